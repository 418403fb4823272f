// The hosted module's table of observed engine properties: one row per
// property (name, format, what a value sets, what "unavailable" and a new
// file do), observed by creation in this order with the reply ids 1 to 27.
#pragma once

#include <array>

#include "playback_rules.h"
#include "property_table.h"
#include "session.h"
#include "stream_stats.h"
#include "tracks.h"

namespace hosted_mpv {

extern const std::array<engine::PropertyRow<Session>, 30> kSessionProperties;

// The module's playback rules: enumerated statuses; "eof-reached" ends a
// loaded file only while the session runs; a file that ends in error keeps
// the "from the engine" mark of an empty fatal line.
constexpr engine::StatusRules<SessionStatus> kSessionStatusRules{
    SessionStatus::idle,
    SessionStatus::loading,
    SessionStatus::playing,
    SessionStatus::paused,
    SessionStatus::ended,
    SessionStatus::error,
    /*eofReachedNeedsRunning=*/true,
    /*failedEndClearsEngineMark=*/false};

// The module's reading of track and chapter lists: the first entry of a key,
// ids also from texts and doubles (a text too large for 64 bits clamped as
// strtoll clamps), flags also from "yes"/"true"/"1" texts, "selected" marks.
constexpr engine::ListReading kSessionListReading{engine::NodeReading::lenient,
                                                  engine::IntegerOverflow::clamp};

// The part of the session the shared playback rules change.
inline engine::LoadState<SessionStatus> loadStateOf(Session& session) REQUIRES(session.stateMutex) {
  return {session.snapshot.status, session.snapshot.error, session.snapshot.errorFromEngine,
          session.fileLoaded, session.paused, session.streamWatch, session.loadPending,
          session.source};
}

}  // namespace hosted_mpv
