// The per-session event thread.
// Threads: the event thread; it takes the session's stateMutex for each event
// and after each wait (never while waiting for the engine). Log lines are
// written under the lock, and the stall rule's stop is queued under it.
#include "event_thread.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "engine_text.h"
#include "rotation.h"
#include "session_properties.h"

namespace hosted_mpv {

namespace {

// The engine's recorder failing a recording that runs: the engine goes on
// playing without recording, but keeps the target in "stream-record".
void handleRecorderFailureLocked(Session& session, const std::string& text)
    REQUIRES(session.stateMutex) {
  SessionSnapshot& snapshot = session.snapshot;
  const std::string why(engine::recorderFailureText(text));
  // The engine opens a new target as it takes it and may log its failure
  // before the start's reply is queued: the reply settles with it.
  if (noteRecorderFailureForStart(session.replies, why)) return;
  // While a stop is on its way, its reply settles the state instead.
  if (!snapshot.recording.active || recordingReplyPending(session.replies)) return;
  engine::showRecordingStopped(snapshot.recording, why);
  session.engineHoldsFailedRecording = true;
}

// Error and fatal lines never change the status: the engine logs them also
// for what it recovers from (audio outputs and hardware decoders tried in
// turn), and it arrives after the events that followed it in time. They
// describe the load only while it has not started playing; the end of a file
// with an error and a refused load set the status themselves.
void handleLogLocked(Session& session, const mpv_event_log_message* message)
    REQUIRES(session.stateMutex) {
  if (!message || !message->level || !message->text) return;
  std::string level = message->level;
  if (level != "warn" && level != "error" && level != "fatal") return;
  std::fprintf(stderr, "[hosted-mpv][%s][%s] %s: %s", session.id.c_str(), message->level,
               message->prefix ? message->prefix : "mpv", message->text);
  engine::noteStreamLine(session.streamWatch, level, message->prefix ? message->prefix : "mpv",
                         message->text);
  if (level == "warn") return;
  if (message->prefix && std::strcmp(message->prefix, "recorder") == 0) {
    handleRecorderFailureLocked(session, message->text);
  }
  engine::applyFailureLine(loadStateOf(session), kSessionStatusRules, level, message->text);
}

void handleReplyLocked(Session& session, uint64_t replyId, int error) REQUIRES(session.stateMutex) {
  if (settleReplyLocked(session.replies, session.snapshot, replyId, error)) {
    if (std::exchange(session.replies.startFailedInEngine, false)) {
      session.engineHoldsFailedRecording = true;
    }
    return;
  }
  if (error < 0) session.snapshot.error = engineText(error);
}

void handleStartFileLocked(Session& session) REQUIRES(session.stateMutex) {
  engine::applyStartFile(loadStateOf(session), kSessionStatusRules);
  engine::resetForNewFile<Session>(kSessionProperties, session);
}

}  // namespace

void handleSessionEventLocked(Session& session, const mpv_event& event)
    REQUIRES(session.stateMutex) {
  switch (event.event_id) {
    case MPV_EVENT_SHUTDOWN:
      session.running.store(false, std::memory_order_release);
      session.snapshot.status = SessionStatus::closed;
      break;
    case MPV_EVENT_LOG_MESSAGE:
      handleLogLocked(session, static_cast<const mpv_event_log_message*>(event.data));
      break;
    case MPV_EVENT_SET_PROPERTY_REPLY:
    case MPV_EVENT_COMMAND_REPLY:
      handleReplyLocked(session, event.reply_userdata, event.error);
      break;
    case MPV_EVENT_START_FILE:
      handleStartFileLocked(session);
      break;
    case MPV_EVENT_END_FILE: {
      const auto* endFile = static_cast<const mpv_event_end_file*>(event.data);
      if (!engine::isEndOfStalledLoad(session.snapshot.buffering, endFile)) {
        engine::applyEndFile(loadStateOf(session), kSessionStatusRules, endFile,
                             session.running.load(std::memory_order_acquire));
      }
      break;
    }
    case MPV_EVENT_FILE_LOADED:
      engine::applyFileLoaded(loadStateOf(session), kSessionStatusRules);
      break;
    case MPV_EVENT_PROPERTY_CHANGE:
      engine::applyPropertyChange<Session>(kSessionProperties, session,
                                           static_cast<const mpv_event_property*>(event.data));
      break;
    default:
      break;
  }
}

void handleStreamEndLocked(Session& session, const engine::StreamEndFacts& facts)
    REQUIRES(session.stateMutex) {
  engine::applyStreamEnd(loadStateOf(session), kSessionStatusRules, facts);
}

namespace {

// A wait for data that made no progress for the bound ends the load.
// The stop is queued under the lock: a load marks the snapshot under it before
// it queues its own command, so the engine gets the stop before any later
// load and never stops one. Queuing an asynchronous command waits for nothing.
void expireStalledLoadLocked(Session& session, int64_t nowNs) REQUIRES(session.stateMutex) {
  const auto timeoutNs = static_cast<int64_t>(session.stallTimeoutSeconds * 1e9);
  if (!engine::stallExpired(session.snapshot.buffering, nowNs, timeoutNs)) return;
  engine::applyStreamStopped(loadStateOf(session), kSessionStatusRules, session.snapshot.buffering,
                             session.stallTimeoutSeconds);
  const char* stop[] = {"stop", nullptr};
  mpv_command_async(session.mpv, 0, stop);
}

}  // namespace

void runEventLoop(SessionRef session) {
  if (!session->running.load(std::memory_order_acquire)) return;
  do {
    mpv_event* event = mpv_wait_event(session->mpv, 0.1);
    const bool hasEvent = event && event->event_id != MPV_EVENT_NONE;
    if (hasEvent && event->event_id == MPV_EVENT_HOOK && event->reply_userdata == kTurnHookId) {
      turnForFile(*session, *static_cast<const mpv_event_hook*>(event->data));
      continue;
    }
    // The engine is called outside stateMutex (but for the queued stop of a
    // stalled load): the facts of an end are read before it, a new turn
    // queued after it.
    const bool streamEnds = hasEvent && engine::reportsStreamEnd(*event);
    const engine::StreamEndFacts facts =
        streamEnds ? engine::readStreamEndFacts(session->mpv) : engine::StreamEndFacts{};
    const int64_t nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    int trackRotation = -1;
    {
      threads::MutexLock lock(session->stateMutex);
      const int rotationBefore = session->streamRotation;
      if (hasEvent) handleSessionEventLocked(*session, *event);
      if (streamEnds) handleStreamEndLocked(*session, facts);
      if (session->streamRotation != rotationBefore) trackRotation = session->streamRotation;
      expireStalledLoadLocked(*session, nowNs);
    }
    if (session->softwareRenderer && trackRotation >= 0) followVideoTrack(*session, trackRotation);
  } while (session->running.load(std::memory_order_acquire));
}

}  // namespace hosted_mpv
