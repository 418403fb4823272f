// The shared event turn on a record shaped like a player's, with a mutex that
// says whether it is held: which row each event reaches, what runs under the
// lock and what after it, and when the end of a stream is handled.
#include "event_dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "test_engine.h"

using namespace engine;

namespace {

struct HeldMutex {
  bool held = false;
  void lock() { held = true; }
  void unlock() { held = false; }
};

struct Player {
  mpv_handle* mpv = nullptr;
  HeldMutex stateMutex;
  std::atomic<bool> running{true};
  std::string calls;  // each call's name, "+" under the lock, "-" outside it
  bool takes = false;
  int64_t nowNs = 0;
  void note(const std::string& name) { calls += name + (stateMutex.held ? "+ " : "- "); }
};

struct Turn {
  bool begun = false;
};

template <char Name>
void row(Player& p, const mpv_event&) {
  p.note(std::string(1, Name));
}

const EventRow<Player> kRows[] = {
    {MPV_EVENT_SHUTDOWN, &row<'s'>},        {MPV_EVENT_END_FILE, &row<'e'>},
    {MPV_EVENT_PROPERTY_CHANGE, &row<'p'>}, {MPV_EVENT_COMMAND_REPLY, &row<'r'>},
    {MPV_EVENT_COMMAND_REPLY, &row<'x'>},  // never: the first row of an id wins
};

const PlayerEvents<Player, Turn> kEvents{
    .rows = kRows,
    .takeUnlocked =
        [](Player& p, const mpv_event&) {
          if (p.takes) p.note("take");
          return p.takes;
        },
    .beginLocked = [](Player&, Turn& t) { t.begun = true; },
    .streamEndLocked = [](Player& p,
                          const StreamEndFacts& f) { p.note(f.bytesRead == -1 ? "end" : "?"); },
    .endLocked = [](Player& p, Turn& t, int64_t now) { p.nowNs = t.begun ? now : -1; },
    .afterUnlocked = [](Player& p, const Turn& t) { p.note(t.begun ? "after" : "?"); },
};

TEST(EventDispatch, EachEventReachesItsRowUnderTheLockAndEndsOfStreamAreHandled) {
  TestEngine engine;  // an idle engine: the facts of an end are all unknown
  int on = 1;
  mpv_event_property eofReached{"eof-reached", MPV_FORMAT_FLAG, &on};
  mpv_event_property paused{"pause", MPV_FORMAT_FLAG, &on};
  mpv_event_end_file atEnd{};
  atEnd.reason = MPV_END_FILE_REASON_EOF;
  mpv_event_end_file stopped{};
  stopped.reason = MPV_END_FILE_REASON_STOP;
  const struct {
    mpv_event_id id;
    void* data;
    bool takes;
    const char* calls;
  } kCases[] = {
      {MPV_EVENT_NONE, nullptr, true, "after- "},  // a timed-out wait is offered to no one
      {MPV_EVENT_SHUTDOWN, nullptr, false, "s+ after- "},
      {MPV_EVENT_END_FILE, &atEnd, false, "e+ end+ after- "},
      {MPV_EVENT_END_FILE, &stopped, false, "e+ after- "},
      {MPV_EVENT_PROPERTY_CHANGE, &eofReached, false, "p+ end+ after- "},
      {MPV_EVENT_PROPERTY_CHANGE, &paused, false, "p+ after- "},
      {MPV_EVENT_COMMAND_REPLY, nullptr, false, "r+ after- "},
      {MPV_EVENT_FILE_LOADED, nullptr, false, "after- "},
      {MPV_EVENT_HOOK, nullptr, true, "take- "},  // taken: the turn ends there
  };
  for (const auto& c : kCases) {
    Player player;
    player.mpv = engine.mpv;
    player.takes = c.takes;
    mpv_event event{};
    event.event_id = c.id;
    event.data = c.data;
    const int64_t before = eventClockNs();
    handleEventTurn(player, kEvents, event);
    EXPECT_EQ(player.calls, c.calls) << mpv_event_name(c.id);
    if (c.id == MPV_EVENT_HOOK) continue;
    EXPECT_GE(player.nowNs, before)
        << "the stall bound gets the event clock, after the lock's begin";
    EXPECT_LE(player.nowNs, eventClockNs());
  }
}

}  // namespace
