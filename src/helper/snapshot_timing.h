// The "snapshot" event: when it is written (its body is built with the other
// output lines, in output_lines.h).
//
// Threads: only the main thread (event loop and shutdown) writes snapshots.
// The body is built under stateMutex and written after it is released, so a
// slow standard output never holds up the other threads' state updates.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "helper_state.h"
#include "output_lines.h"

namespace frame_helper {

// Least spacing of two snapshots that carry the same status.
constexpr int64_t kSnapshotIntervalNs = 250'000'000;

// The pacing rule: the line to write now (clearing snapshotDirty and
// recording `nowNs` and the status), or nothing when the state is clean, or
// when the status is unchanged and the last snapshot is younger than
// kSnapshotIntervalNs; `force` writes regardless.
std::optional<std::string> takeSnapshotLocked(HelperState& state, bool force, int64_t nowNs)
    REQUIRES(state.stateMutex);

// Writes a snapshot when the pacing rule allows it, on CLOCK_MONOTONIC.
// Main thread.
void maybeEmitSnapshot(HelperState& state, bool force) EXCLUDES(state.stateMutex);

}  // namespace frame_helper
