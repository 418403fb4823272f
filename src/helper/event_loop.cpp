#include "event_loop.h"

#include "buffering.h"
#include "command_dispatch.h"
#include "deinterlacing.h"
#include "event_dispatch.h"
#include "helper_properties.h"
#include "json_writer.h"
#include "log_lines.h"
#include "output_lines.h"
#include "playback_rules.h"
#include "snapshot_timing.h"
#include "url_guard.h"

namespace frame_helper {

namespace {

constexpr double kEventWaitSeconds = 0.1;

bool isRunning(const HelperState& state) { return state.running.load(std::memory_order_acquire); }

void handleLogMessageLocked(HelperState& state, const mpv_event& event) REQUIRES(state.stateMutex) {
  const auto line = engine::readLogLine(static_cast<const mpv_event_log_message*>(event.data));
  if (!line) return;
  engine::noteStreamLine(state.streamWatch, line->level, line->prefix, line->text);
  if (engine::isFailure(line->kind)) {
    engine::applyFailureLine(loadStateOf(state), line->level, line->text);
    // The engine accepts any "stream-record" path and reports one it cannot
    // open only here; without this a refused recording would show as active.
    if (line->kind == engine::LogLineKind::recorderFailure) {
      engine::recordingFailed(kHelperProfile.recording, state.recordingMachine, state.recording,
                              line->text);
    }
    state.snapshotDirty = true;
  }
  emitLine(logLine(line->level, line->prefix, line->text));
}

void handleShutdownLocked(HelperState& state, const mpv_event&) REQUIRES(state.stateMutex) {
  state.running.store(false, std::memory_order_release);
  state.status = engine::PlaybackStatus::closed;
  state.snapshotDirty = true;
}

void handleStartFileLocked(HelperState& state, const mpv_event&)
    REQUIRES(state.stateMutex, state.mainThread) {
  engine::applyStartFile(loadStateOf(state));
  clearFileFactsLocked(state);
  state.deinterlacing.newFile = true;
  state.snapshotDirty = true;
}

void handleFileLoadedLocked(HelperState& state, const mpv_event&) REQUIRES(state.stateMutex) {
  engine::applyFileLoaded(loadStateOf(state));
  state.snapshotDirty = true;
}

void handleEndFileLocked(HelperState& state, const mpv_event& event) REQUIRES(state.stateMutex) {
  engine::applyEndFileEvent(loadStateOf(state), kHelperProfile.status, state.buffering, event,
                            isRunning(state));
  state.snapshotDirty = true;
}

void handleSeekLocked(HelperState& state, const mpv_event&) REQUIRES(state.stateMutex) {
  engine::noteSeek(state.buffering);
}

void handlePropertyChangeLocked(HelperState& state, const mpv_event& event)
    REQUIRES(state.stateMutex) {
  if (engine::applyFilePropertyChange<HelperState>(
          kHelperProperties, state, static_cast<const mpv_event_property*>(event.data),
          state.loadPending)) {
    state.snapshotDirty = true;
  }
}

constexpr engine::EventRow<HelperState> kHelperEventRows[] = {
    {MPV_EVENT_SHUTDOWN, &handleShutdownLocked},
    {MPV_EVENT_LOG_MESSAGE, &handleLogMessageLocked},
    {MPV_EVENT_START_FILE, &handleStartFileLocked},
    {MPV_EVENT_FILE_LOADED, &handleFileLoadedLocked},
    {MPV_EVENT_END_FILE, &handleEndFileLocked},
    {MPV_EVENT_SEEK, &handleSeekLocked},
    {MPV_EVENT_PROPERTY_CHANGE, &handlePropertyChangeLocked},
};

}  // namespace

void handleEngineEventLocked(HelperState& state, const mpv_event& event)
    REQUIRES(state.stateMutex, state.mainThread) {
  engine::dispatchEventLocked<HelperState>(kHelperEventRows, state, event);
}

void handleStreamEndLocked(HelperState& state, const engine::StreamEndFacts& facts)
    REQUIRES(state.stateMutex) {
  engine::applyStreamEnd(loadStateOf(state), facts);
  state.snapshotDirty = true;
}

namespace {

// What the locked part of a turn leaves for the engine calls after it.
struct HelperTurn {
  bool clearRecording = false;
};

// A wait for data that made no progress for the bound ends the load, and a
// live outage reloads its source. The stop or reload is queued under the
// lock, after the status is set and before the snapshot that shows it: a
// load takes the lock before it sends its own command, so the engine gets
// the stop first and never stops a later load. Queuing an asynchronous
// command waits for nothing.
void endTurnLocked(HelperState& state, HelperTurn& turn, int64_t nowNs) REQUIRES(state.stateMutex) {
  turn.clearRecording = state.recordingMachine.holdsFailedTarget;
  const bool wasWaiting = state.buffering.active;
  const engine::WaitStep step =
      engine::endWaitTurn(loadStateOf(state), state.buffering, state.stallTimeoutSeconds, nowNs);
  if (step != engine::WaitStep::none || state.buffering.active != wasWaiting)
    state.snapshotDirty = true;
  engine::sendWaitStep(state.mpv, step, state.source);
}

// Main thread, stateMutex not held.
void afterTurn(HelperState& state, const HelperTurn& turn) REQUIRES(state.mainThread) {
  maybeEmitSnapshot(state, false);
  if (turn.clearRecording) clearFailedRecording(state);
  engine::followFieldFlags(state.mpv, state.deinterlacing, engine::eventClockNs());
}

constexpr engine::PlayerEvents<HelperState, HelperTurn> kHelperEvents{
    .rows = kHelperEventRows,
    .takeUnlocked = &engine::takeUrlHook<HelperState, loadStateOf>,
    .beginLocked = nullptr,
    .streamEndLocked = &handleStreamEndLocked,
    .endLocked = &endTurnLocked,
    .afterUnlocked = &afterTurn,
};

}  // namespace

void runEventLoop(HelperState& state) {
  engine::runEventTurns(state, kHelperEvents, kEventWaitSeconds);
}

}  // namespace frame_helper
