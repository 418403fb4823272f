#include "event_loop.h"

#include <string_view>

#include "command_dispatch.h"
#include "helper_properties.h"
#include "json_writer.h"
#include "output_lines.h"
#include "playback_rules.h"
#include "ring_clock.h"
#include "snapshot_timing.h"

namespace frame_helper {

namespace {

constexpr double kEventWaitSeconds = 0.1;

bool isRunning(const HelperState& state) { return state.running.load(std::memory_order_acquire); }

// The engine accepts any "stream-record" path and only reports a file it
// cannot open through its recorder's log; without this a refused recording
// would show as active.
void noteRecorderFailureLocked(HelperState& state, std::string_view line)
    REQUIRES(state.stateMutex) {
  const std::string_view text = engine::recorderFailureText(line);
  state.lastRecorderFailure = text;
  state.recorderFailures.fetch_add(1, std::memory_order_release);
  state.failedRecordingToClear = true;
  if (state.recording.active) engine::showRecordingStopped(state.recording, text);
}

void handleLogMessageLocked(HelperState& state, const mpv_event_log_message* message)
    REQUIRES(state.stateMutex) {
  if (message == nullptr || message->level == nullptr || message->text == nullptr) return;
  const std::string_view level = message->level;
  const char* prefix = message->prefix ? message->prefix : "mpv";
  engine::noteStreamLine(state.streamWatch, level, prefix, message->text);
  if (engine::isFailureLevel(level)) {
    engine::applyFailureLine(loadStateOf(state), kHelperStatusRules, level, message->text);
    if (std::string_view(prefix) == "recorder") noteRecorderFailureLocked(state, message->text);
    state.snapshotDirty = true;
  }
  emitLine(logLine(level, prefix, message->text));
}

void handleStartFileLocked(HelperState& state) REQUIRES(state.stateMutex) {
  engine::applyStartFile(loadStateOf(state), kHelperStatusRules);
  engine::resetForNewFile<HelperState>(kHelperProperties, state);
  state.videoWidth = 0;
  state.videoHeight = 0;
  state.snapshotDirty = true;
}

}  // namespace

void handleEngineEventLocked(HelperState& state, const mpv_event& event) {
  switch (event.event_id) {
    case MPV_EVENT_SHUTDOWN:
      state.running.store(false, std::memory_order_release);
      state.status = "closed";
      state.snapshotDirty = true;
      break;
    case MPV_EVENT_LOG_MESSAGE:
      handleLogMessageLocked(state, static_cast<const mpv_event_log_message*>(event.data));
      break;
    case MPV_EVENT_START_FILE:
      handleStartFileLocked(state);
      break;
    case MPV_EVENT_FILE_LOADED:
      engine::applyFileLoaded(loadStateOf(state), kHelperStatusRules);
      state.snapshotDirty = true;
      break;
    case MPV_EVENT_END_FILE: {
      const auto* endFile = static_cast<const mpv_event_end_file*>(event.data);
      if (!engine::isEndOfStalledLoad(state.buffering, endFile)) {
        engine::applyEndFile(loadStateOf(state), kHelperStatusRules, endFile, isRunning(state));
      }
      state.snapshotDirty = true;
      break;
    }
    case MPV_EVENT_PROPERTY_CHANGE:
      if (engine::applyPropertyChange<HelperState>(
              kHelperProperties, state, static_cast<const mpv_event_property*>(event.data))) {
        state.snapshotDirty = true;
      }
      break;
    default:
      break;
  }
}

void handleStreamEndLocked(HelperState& state, const engine::StreamEndFacts& facts) {
  engine::applyStreamEnd(loadStateOf(state), kHelperStatusRules, facts);
  state.snapshotDirty = true;
}

namespace {

// A wait for data that made no progress for the bound ends the load.
bool expireStalledLoadLocked(HelperState& state, int64_t nowNs) REQUIRES(state.stateMutex) {
  const auto timeoutNs = static_cast<int64_t>(state.stallTimeoutSeconds * 1e9);
  if (!engine::stallExpired(state.buffering, nowNs, timeoutNs)) return false;
  engine::applyStreamStopped(loadStateOf(state), kHelperStatusRules, state.buffering,
                             state.stallTimeoutSeconds);
  state.snapshotDirty = true;
  return true;
}

// commandMutex keeps a new load out until "stop" is sent; the engine is
// called outside stateMutex.
void stopStalledLoad(HelperState& state) EXCLUDES(state.commandMutex, state.stateMutex) {
  threads::MutexLock gate(state.commandMutex);
  if (state.engineClosedToCommands) return;
  {
    threads::MutexLock lock(state.stateMutex);
    // A load that came in since the bound ran out replaced the stalled one.
    if (!state.buffering.stalled || state.status != kHelperStatusRules.error) return;
  }
  const char* stop[] = {"stop", nullptr};
  mpv_command(state.mpv, stop);
}

}  // namespace

void runEventLoop(HelperState& state) {
  while (isRunning(state)) {
    mpv_event* event = mpv_wait_event(state.mpv, kEventWaitSeconds);
    if (event == nullptr) continue;
    bool clearRecording = false;
    bool stopStalled = false;
    {
      // Read before the lock: the engine is never called under stateMutex.
      const bool streamEnds = engine::reportsStreamEnd(*event);
      const engine::StreamEndFacts facts =
          streamEnds ? engine::readStreamEndFacts(state.mpv) : engine::StreamEndFacts{};
      threads::MutexLock lock(state.stateMutex);
      if (event->event_id != MPV_EVENT_NONE) handleEngineEventLocked(state, *event);
      if (streamEnds) handleStreamEndLocked(state, facts);
      clearRecording = state.failedRecordingToClear;
      stopStalled = expireStalledLoadLocked(state, static_cast<int64_t>(frame_ring::monotonicNowNs()));
    }
    if (clearRecording) clearFailedRecording(state);
    if (stopStalled) stopStalledLoad(state);
    maybeEmitSnapshot(state, false);
  }
}

}  // namespace frame_helper
