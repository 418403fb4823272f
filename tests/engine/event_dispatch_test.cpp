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
  int turnsLeft = -1;
  int64_t nowNs = 0;
  void note(const char* name) {
    calls += std::string(calls.empty() ? "" : " ") + name + (stateMutex.held ? "+" : "-");
  }
};

struct Turn {
  bool begun = false;
};

template <char Name>
void row(Player& p, const mpv_event&) {
  p.note(std::string(1, Name).c_str());
}

const EventRow<Player> kRows[] = {
    {MPV_EVENT_SHUTDOWN, &row<'s'>},        {MPV_EVENT_END_FILE, &row<'e'>},
    {MPV_EVENT_PROPERTY_CHANGE, &row<'p'>}, {MPV_EVENT_COMMAND_REPLY, &row<'r'>},
    {MPV_EVENT_COMMAND_REPLY, &row<'x'>},  // never: the first row of an id wins
};

const PlayerEvents<Player, Turn> kEvents{
    kRows,
    [](Player& p, const mpv_event&) {
      if (p.takes) p.note("take");
      return p.takes;
    },
    [](Player& p, Turn& t) {
      t.begun = true;
      p.note("begin");
    },
    [](Player& p, const StreamEndFacts& facts) {
      p.note(facts.bytesRead == -1 ? "streamEnd" : "streamEnd(facts?)");
    },
    [](Player& p, Turn& t, int64_t nowNs) {
      p.nowNs = nowNs;
      p.note(t.begun ? "end" : "end(unbegun)");
      if (p.turnsLeft > 0 && --p.turnsLeft == 0) p.running = false;
    },
    [](Player& p, const Turn& t) { p.note(t.begun ? "after" : "after(unbegun)"); },
};

TEST(EventDispatch, EachEventReachesItsRowUnderTheLockAndEndsOfStreamAreHandled) {
  TestEngine engine;  // an idle engine: the facts of an end are all unknown
  int eof = 1;
  int pause = 1;
  mpv_event_property eofReached{"eof-reached", MPV_FORMAT_FLAG, &eof};
  mpv_event_property paused{"pause", MPV_FORMAT_FLAG, &pause};
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
      {MPV_EVENT_NONE, nullptr, false, "begin+ end+ after-"},
      {MPV_EVENT_NONE, nullptr, true,
       "begin+ end+ after-"},  // a timed-out wait is offered to no one
      {MPV_EVENT_SHUTDOWN, nullptr, false, "begin+ s+ end+ after-"},
      {MPV_EVENT_END_FILE, &atEnd, false, "begin+ e+ streamEnd+ end+ after-"},
      {MPV_EVENT_END_FILE, &stopped, false, "begin+ e+ end+ after-"},
      {MPV_EVENT_PROPERTY_CHANGE, &eofReached, false, "begin+ p+ streamEnd+ end+ after-"},
      {MPV_EVENT_PROPERTY_CHANGE, &paused, false, "begin+ p+ end+ after-"},
      {MPV_EVENT_COMMAND_REPLY, nullptr, false, "begin+ r+ end+ after-"},
      {MPV_EVENT_FILE_LOADED, nullptr, false, "begin+ end+ after-"},
      {MPV_EVENT_HOOK, nullptr, true, "take-"},
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
    EXPECT_FALSE(player.stateMutex.held);
    if (c.takes && c.id != MPV_EVENT_NONE) continue;
    EXPECT_GE(player.nowNs, before) << "the stall bound reads the event clock";
    EXPECT_LE(player.nowNs, eventClockNs());
  }
}

TEST(EventDispatch, TurnsGoOnUntilRunningIsCleared) {
  TestEngine engine;
  Player player;
  player.mpv = engine.mpv;
  player.turnsLeft = 3;
  runEventTurns(player, kEvents, 0);
  EXPECT_EQ(player.calls.find("take"), std::string::npos);
  size_t turns = 0;
  for (size_t at = player.calls.find("after-"); at != std::string::npos;
       at = player.calls.find("after-", at + 1)) {
    ++turns;
  }
  EXPECT_EQ(turns, 3u);
}

}  // namespace
