#include "snapshot_timing.h"


#include "json_writer.h"
#include "output_lines.h"
#include "shm_ring.h"

namespace frame_helper {

std::optional<std::string> takeSnapshotLocked(HelperState& state, bool force, int64_t nowNs) {
  if (!force && !state.snapshotDirty) return std::nullopt;
  // A wait for data starting or ending goes out at once, like a status.
  const bool due = force || state.status != state.lastSnapshotStatus ||
                   state.buffering.active != state.lastSnapshotBuffering ||
                   nowNs - state.lastSnapshotNs >= kSnapshotIntervalNs;
  if (!due) return std::nullopt;
  state.snapshotDirty = false;
  state.lastSnapshotNs = nowNs;
  state.lastSnapshotStatus = state.status;
  state.lastSnapshotBuffering = state.buffering.active;
  return snapshotBodyLocked(state);
}

void maybeEmitSnapshot(HelperState& state, bool force) {
  std::optional<std::string> line;
  {
    threads::MutexLock lock(state.stateMutex);
    if (!force && !state.snapshotDirty) return;
    line = takeSnapshotLocked(state, force, static_cast<int64_t>(frame_ring::monotonicNowNs()));
  }
  if (line) emitLine(*line);
}

}  // namespace frame_helper
