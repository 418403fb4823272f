#include "turn_watch.h"

#include <cstdlib>
#include <functional>

#include "turn_filter.h"

namespace engine {
namespace {

constexpr uint64_t kRotationReply = 1;
constexpr uint64_t kLoadHookReply = 2;
constexpr uint64_t kTurnHookReply = 3;

// video-rotate's value as the turn adds it: degrees, or -1 for "no".
int64_t rotationOption(mpv_handle* mpv, const char* name) {
  char* value = mpv_get_property_string(mpv, name);
  if (!value) return 0;
  const std::string text = value;
  mpv_free(value);
  return text == "no" ? -1 : std::strtoll(text.c_str(), nullptr, 10);
}

bool isSetLocally(mpv_handle* mpv, const char* name) {
  int flag = 0;
  return mpv_get_property(mpv, name, MPV_FORMAT_FLAG, &flag) >= 0 && flag != 0;
}

void turnTo(TurnWatch& watch, int turn) {
  if (turn == watch.turnDegrees) return;
  queueTurnFilter(watch.client, watch.turnDegrees, turn);
  watch.turnDegrees = turn;
}

// One event of the watch's client. The engine waits for a hook's answer and
// serves these calls meanwhile; the filter requests are queued before the
// answer, so the file's filter chain is built with them and its first frame
// is already upright.
void serveEvent(TurnWatch& watch, const mpv_event& event) {
  if (event.event_id == MPV_EVENT_HOOK && event.reply_userdata == kLoadHookReply) {
    watch.fileRotation = watch.callerRotation;
    if (isSetLocally(watch.client, "option-info/video-rotate/set-locally")) {
      watch.fileRotation = rotationOption(watch.client, "video-rotate");
      mpv_set_property_string(watch.client, "file-local-options/video-rotate", "no");
    }
    mpv_hook_continue(watch.client, static_cast<const mpv_event_hook*>(event.data)->id);
    return;
  }
  if (event.event_id == MPV_EVENT_HOOK && event.reply_userdata == kTurnHookReply) {
    turnTo(watch, effectiveTurn(upcomingVideoRotation(watch.client), watch.fileRotation));
    mpv_hook_continue(watch.client, static_cast<const mpv_event_hook*>(event.data)->id);
    return;
  }
  if (event.event_id != MPV_EVENT_PROPERTY_CHANGE || event.reply_userdata != kRotationReply) return;
  // Another video track chosen while playing. "Unavailable" (between files,
  // delivered late) changes nothing: the hook has chosen already.
  const auto* property = static_cast<const mpv_event_property*>(event.data);
  if (property->format != MPV_FORMAT_INT64) return;
  turnTo(watch, effectiveTurn(*static_cast<int64_t*>(property->data), watch.fileRotation));
}

void serveUntilStopped(TurnWatch& watch) {
  while (!watch.stopping.load(std::memory_order_acquire)) {
    const mpv_event* event = mpv_wait_event(watch.client, -1);
    if (event->event_id == MPV_EVENT_SHUTDOWN) return;
    serveEvent(watch, *event);
  }
}

}  // namespace

bool startTurnWatch(TurnWatch& watch, mpv_handle* mpv, std::string& error) {
  // Read before it is overridden: the caller's own video-rotate (degrees
  // added to the stream's, or "no") still applies, made by the turn filter.
  watch.callerRotation = rotationOption(mpv, "video-rotate");
  watch.fileRotation = watch.callerRotation;
  if (const int result = mpv_set_property_string(mpv, "video-rotate", "no"); result < 0) {
    error = std::string("video-rotate: ") + mpv_error_string(result);
    return false;
  }
  watch.client = mpv_create_client(mpv, "orvanel-rotation");
  if (!watch.client) {
    error = "rotation watch unavailable";
    return false;
  }
  mpv_observe_property(watch.client, kRotationReply, "current-tracks/video/demux-rotation",
                       MPV_FORMAT_INT64);
  mpv_hook_add(watch.client, kLoadHookReply, "on_load", 0);
  mpv_hook_add(watch.client, kTurnHookReply, kTurnHook, 0);
  watch.stopping.store(false, std::memory_order_release);
  watch.thread = std::thread(serveUntilStopped, std::ref(watch));
  return true;
}

void stopTurnWatch(TurnWatch& watch) {
  if (watch.thread.joinable()) {
    watch.stopping.store(true, std::memory_order_release);
    mpv_wakeup(watch.client);
    watch.thread.join();
  }
  if (watch.client) {
    mpv_destroy(watch.client);
    watch.client = nullptr;
  }
}

}  // namespace engine
