// The per-session event thread: folds the engine's events, replies and
// property changes into the session's snapshot.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string>
#include <vector>

#include "session.h"

namespace hosted_mpv {

struct ObservedProperty {
  const char* name;
  mpv_format format;
};

// Observed by creation with the ids 1 to 23, in this order.
extern const ObservedProperty kObservedProperties[23];

// The thread's body; returns once `running` is false after a wait or an event.
void runEventLoop(SessionRef session);

// Folds one event into the session. Caller holds session.stateMutex.
void handleSessionEventLocked(Session& session, const mpv_event& event);

// Rebuilds the tracks of one kind ("audio" or "sub") from a track-list value.
void updateTracksFromNode(const mpv_node& node, const char* kind, std::vector<AudioTrack>& tracks,
                          int64_t& selectedId);
// Rebuilds the chapters (at most 256) from a chapter-list value.
void updateChaptersFromNode(SessionSnapshot& snapshot, const mpv_node& node);

std::string readNodeString(const mpv_node& node);
bool readNodeFlag(const mpv_node& node);
// True, with `out` set, when `text` is a whole decimal integer (as strtoll
// reads it, leading blanks and a sign included).
bool parseIntegerString(const std::string& text, int64_t& out);

}  // namespace hosted_mpv
