#include "recording_machine.h"

#include <algorithm>

namespace engine {
namespace {

// A reply settles its request only when ids match; 0 is never expected.
bool takeExpected(PendingRecordRequest& pending, uint64_t requestId, PendingRecordRequest& taken) {
  if (requestId == 0 || requestId != pending.id) return false;
  taken = std::move(pending);
  pending = PendingRecordRequest{};
  return true;
}

void settleStart(const RecordingRules& rules, RecordingMachine& machine, RecordingState& shown,
                 const PendingRecordRequest& start, int status, std::string_view text) {
  if (status < 0) {
    // The engine kept its old target; a failure meanwhile was that target's.
    machine.holdsFailedTarget = start.heldFailedTarget || !start.failure.empty();
    if (!rules.showAtOnce) {
      shown.error = text;
      return;
    }
    shown.targetPath = start.targetPath;
    showRecordingStopped(shown, text);
    return;
  }
  shown.targetPath = start.targetPath;
  if (!start.failure.empty()) {
    showRecordingStopped(shown, start.failure);
    machine.holdsFailedTarget = true;
  } else {
    showRecordingRunning(shown, start.startedAt, "");
  }
}

void settleStop(const RecordingRules& rules, RecordingMachine& machine, RecordingState& shown,
                const PendingRecordRequest& stop, int status, std::string_view text) {
  if (status >= 0) {
    showRecordingStopped(shown, "");
    return;
  }
  machine.holdsFailedTarget = stop.heldFailedTarget;
  if (stop.forLoad) return;  // the load reports it and shows nothing changed
  if (!rules.showAtOnce) {
    shown.error = text;
  } else if (stop.startedAt.empty()) {
    showRecordingStopped(shown, text);
  } else {
    showRecordingRunning(shown, stop.startedAt, text);
  }
}

// Expects a stop; the snapshot is the caller's.
RecordRequest expectStop(RecordingMachine& machine, const RecordingState& shown, uint64_t requestId,
                         bool forLoad) {
  machine.stop.id = requestId;
  machine.stop.startedAt = shown.startedAt;
  machine.stop.heldFailedTarget = machine.holdsFailedTarget;
  machine.stop.forLoad = forLoad;
  machine.holdsFailedTarget = false;  // "" replaces the failed target
  return {true, "", requestId};
}

}  // namespace

RecordRequest recordingStartAsked(const RecordingRules& rules, RecordingMachine& machine,
                                  RecordingState& shown, uint64_t requestId,
                                  const std::string& path, const std::string& startedAt) {
  machine.start = PendingRecordRequest{};
  machine.start.id = requestId;
  machine.start.targetPath = path;
  machine.start.startedAt = startedAt;
  machine.start.heldFailedTarget = machine.holdsFailedTarget;
  machine.holdsFailedTarget = false;  // the new target replaces it
  if (rules.showAtOnce) {
    shown.targetPath = path;
    showRecordingRunning(shown, startedAt, "");
  }
  return {true, path, requestId};
}

RecordRequest recordingStopAsked(const RecordingRules& rules, RecordingMachine& machine,
                                 RecordingState& shown, uint64_t requestId) {
  RecordRequest request = expectStop(machine, shown, requestId, false);
  if (rules.showAtOnce) showRecordingStopped(shown, "");
  return request;
}

bool recordingReplied(const RecordingRules& rules, RecordingMachine& machine, RecordingState& shown,
                      uint64_t requestId, int status, std::string_view text) {
  if (requestId == 0) return false;
  auto moot = std::find(machine.mootIds.begin(), machine.mootIds.end(), requestId);
  if (moot != machine.mootIds.end()) {
    machine.mootIds.erase(moot);
    return true;
  }
  PendingRecordRequest taken;
  if (takeExpected(machine.start, requestId, taken)) {
    settleStart(rules, machine, shown, taken, status, text);
    return true;
  }
  if (takeExpected(machine.stop, requestId, taken)) {
    settleStop(rules, machine, shown, taken, status, text);
    return true;
  }
  return false;
}

void recordingFailed(const RecordingRules& rules, RecordingMachine& machine, RecordingState& shown,
                     std::string_view line) {
  const std::string_view text = recorderFailureText(line);
  // The engine accepts any path and reports one it cannot open only here.
  if (rules.clearFailedTargetAtOnce) machine.holdsFailedTarget = true;
  if (machine.start.id != 0) {
    machine.start.failure = text;
    if (rules.showAtOnce) return;
  } else if (rules.showAtOnce && machine.stop.id != 0) {
    return;
  }
  if (!shown.active) return;
  showRecordingStopped(shown, text);
  machine.holdsFailedTarget = true;
}

RecordRequest recordingLoadStarting(const RecordingRules& rules, RecordingMachine& machine,
                                    const RecordingState& shown, uint64_t requestId) {
  if (!rules.loadAlwaysClearsTarget && !shown.active && !machine.holdsFailedTarget) return {};
  if (requestId == 0) {
    machine.holdsFailedTarget = false;
    return {true, "", 0};
  }
  return expectStop(machine, shown, requestId, true);
}

void recordingLoadRequested(const RecordingRules& rules, RecordingMachine& machine,
                            RecordingState& shown) {
  if (rules.loadKeepsTarget) {
    shown.active = false;
    shown.startedAt.clear();
  } else {
    shown.targetPath.clear();
    showRecordingStopped(shown, "");
  }
  for (uint64_t id : {machine.start.id, machine.stop.id}) {
    if (id != 0) machine.mootIds.push_back(id);
  }
  machine.start = PendingRecordRequest{};
  machine.stop = PendingRecordRequest{};
}

RecordRequest recordingPlayerClosing(RecordingState& shown) {
  if (!shown.active) return {};
  shown.active = false;
  shown.startedAt.clear();
  return {true, "", 0};
}

RecordRequest recordingClearFailedTarget(RecordingMachine& machine, const RecordingState& shown) {
  if (!machine.holdsFailedTarget) return {};
  machine.holdsFailedTarget = false;
  if (shown.active) return {};
  return {true, "", 0};
}

bool recordingRequestPending(const RecordingMachine& machine) {
  return machine.start.id != 0 || machine.stop.id != 0;
}

}  // namespace engine
