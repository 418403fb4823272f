// The URL policy inside the engine, so that it holds whoever calls the player:
// every file the engine is about to open (a load's URL, each playlist entry)
// is checked in the last on_load hook, and what the demuxer and the network
// stream open on their own (segments, keys, redirects) is limited by
// libavformat's protocol whitelist. A refused file never opens: the engine is
// handed a URL no protocol takes, the load ends in error, and the player shows
// the refusal as that error (StreamWatch::refusal, playback_rules.h).
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string>

#include "mutex.h"
#include "url_policy.h"

namespace engine {

// The reply id of the URL hook's events; a hook's id never meets another
// event's, so it only has to differ from the player's other hooks.
inline constexpr uint64_t kUrlHookReply = 0x75726c;
// Hooks of lower priority run first: this one runs after any hook that may
// still rewrite the URL.
inline constexpr int kUrlHookPriority = 1 << 20;

// After mpv_initialize, after the caller's own options: nested opens limited
// to protocolWhitelist (merged into "demuxer-lavf-o" and "stream-lavf-o"),
// the engine's refusal of unsafe playlist entries kept, and the on_load hook
// added. The player passes the hook's events to takeUrlHook. Returns the
// first failing engine status, or 0.
int startUrlGuard(mpv_handle* mpv, const UrlPolicy& policy);

// In the hook, the engine waiting: the refusal of the URL it is about to open
// (empty: allowed). A refused URL is replaced by one that opens nothing.
std::string checkUpcomingUrl(mpv_handle* mpv, const UrlPolicy& policy);

// Takes the URL hook's event (false for any other): checks the URL outside
// the lock, keeps a refusal in the file's StreamWatch under `record`'s
// stateMutex, and lets the engine go on. The record has `mpv`, `stateMutex`
// and an optional `urlPolicy`. Event thread, stateMutex not held.
template <typename Record, auto LoadStateOf>
bool takeUrlHook(Record& record, const mpv_event& event) EXCLUDES(record.stateMutex) {
  if (event.event_id != MPV_EVENT_HOOK || event.reply_userdata != kUrlHookReply) return false;
  if (record.urlPolicy) {
    std::string refusal = checkUpcomingUrl(record.mpv, *record.urlPolicy);
    if (!refusal.empty()) {
      threads::MutexLock lock(record.stateMutex);
      LoadStateOf(record).watch.refusal = std::move(refusal);
    }
  }
  mpv_hook_continue(record.mpv, static_cast<const mpv_event_hook*>(event.data)->id);
  return true;
}

}  // namespace engine
