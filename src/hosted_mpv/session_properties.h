// The hosted module's table of observed engine properties: one row per
// property (name, format, what a value sets, what "unavailable" and a new
// file do), observed by creation in this order with the reply ids 1 to 27.
#pragma once

#include <array>

#include "playback_rules.h"
#include "property_table.h"
#include "session.h"
#include "session_profile.h"
#include "stream_stats.h"
#include "tracks.h"

namespace hosted_mpv {

extern const std::array<engine::PropertyRow<Session>, 30> kSessionProperties;

// The part of the session the shared playback rules change.
inline engine::LoadState loadStateOf(Session& session) REQUIRES(session.stateMutex) {
  return {session.snapshot.status, session.snapshot.error, session.snapshot.errorFromEngine,
          session.fileLoaded, session.paused, session.streamWatch, session.loadPending,
          session.source};
}

}  // namespace hosted_mpv
