// The helper's table of observed engine properties: one row per property
// (name, format, what a value sets, what "unavailable" and a new file do),
// observed in this order with the reply ids 1 to 30.
#pragma once

#include <array>

#include "helper_profile.h"
#include "helper_state.h"
#include "playback_rules.h"
#include "property_table.h"

namespace frame_helper {

extern const std::array<engine::PropertyRow<HelperState>, 33> kHelperProperties;

// What a new load or the start of a file clears: every fact of the file
// before it, the displayed size included. The ring keeps its size until the
// new file's picture is known: refitting it now would fill the box for a moment.
void clearFileFactsLocked(HelperState& state) REQUIRES(state.stateMutex);

// The part of `state` the shared playback rules change.
inline engine::LoadState loadStateOf(HelperState& state) REQUIRES(state.stateMutex) {
  return {state.status, state.error,       state.errorFromEngine, state.fileLoaded,
          state.paused, state.streamWatch, state.loadPending, state.source};
}

}  // namespace frame_helper
