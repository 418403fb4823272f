// The per-session event thread.
// Threads: the event thread, holding the session's eventRole (the rows and
// hooks are reached through function pointers the analysis does not follow,
// so each says REQUIRES itself); it takes the session's stateMutex for each event
// and after each wait (never while waiting for the engine). Log lines are
// written under the lock, and the stall rule's stop and a live outage's
// reload are queued under it.
#include "event_thread.h"

#include <cstdio>

#include "buffering.h"
#include "deinterlacing.h"
#include "engine_text.h"
#include "event_dispatch.h"
#include "log_lines.h"
#include "session_properties.h"
#include "url_guard.h"

namespace hosted_mpv {

namespace {

// Error and fatal lines never change the status: the engine logs them also
// for what it recovers from (audio outputs and hardware decoders tried in
// turn), and it arrives after the events that followed it in time. They
// describe the load only while it has not started playing; the end of a file
// with an error and a refused load set the status themselves.
void handleLogLocked(Session& session, const mpv_event& event) REQUIRES(session.stateMutex) {
  const auto line = engine::readLogLine(static_cast<const mpv_event_log_message*>(event.data));
  if (!line || line->kind == engine::LogLineKind::other) return;
  std::fprintf(stderr, "[hosted-mpv][%s][%s] %s: %s", session.id.c_str(), line->level, line->prefix,
               line->text);
  engine::noteStreamLine(session.streamWatch, line->level, line->prefix, line->text);
  if (!engine::isFailure(line->kind)) return;
  // The engine's recorder failing: it goes on playing without recording but
  // keeps the target in "stream-record". A failure while a start is on its
  // way is that start's (the machine keeps it for its reply).
  if (line->kind == engine::LogLineKind::recorderFailure) {
    engine::recordingFailed(kSessionProfile.recording, session.recordingMachine,
                            session.snapshot.recording, line->text);
  }
  engine::applyFailureLine(loadStateOf(session), line->level, line->text);
}

void handleReplyLocked(Session& session, uint64_t replyId, int error) REQUIRES(session.stateMutex) {
  if (settleLoadLocked(session.replies, session.snapshot, replyId, error)) {
    if (error < 0) engine::withdrawLoadRequest(loadStateOf(session));
    return;
  }
  if (engine::recordingReplied(kSessionProfile.recording, session.recordingMachine,
                               session.snapshot.recording, replyId, error,
                               error < 0 ? engineText(error) : std::string())) {
    return;
  }
  if (error < 0) session.snapshot.error = engineText(error);
}

void handleReplyEventLocked(Session& session, const mpv_event& event) REQUIRES(session.stateMutex) {
  handleReplyLocked(session, event.reply_userdata, event.error);
}

void handleShutdownLocked(Session& session, const mpv_event&) REQUIRES(session.stateMutex) {
  session.running.store(false, std::memory_order_release);
  session.snapshot.status = engine::PlaybackStatus::closed;
}

void handleStartFileLocked(Session& session, const mpv_event&)
    REQUIRES(session.stateMutex, session.eventRole) {
  engine::applyStartFile(loadStateOf(session));
  engine::resetForNewFile<Session>(kSessionProperties, session);
  session.deinterlacing.newFile = true;
}

void handleEndFileLocked(Session& session, const mpv_event& event) REQUIRES(session.stateMutex) {
  engine::applyEndFileEvent(loadStateOf(session), kSessionProfile.status,
                            session.snapshot.buffering, event,
                            session.running.load(std::memory_order_acquire));
}

void handleFileLoadedLocked(Session& session, const mpv_event&) REQUIRES(session.stateMutex) {
  engine::applyFileLoaded(loadStateOf(session));
}

void handleSeekLocked(Session& session, const mpv_event&) REQUIRES(session.stateMutex) {
  engine::noteSeek(session.snapshot.buffering);
}

void handlePropertyChangeLocked(Session& session, const mpv_event& event)
    REQUIRES(session.stateMutex) {
  engine::applyFilePropertyChange<Session>(kSessionProperties, session,
                                           static_cast<const mpv_event_property*>(event.data),
                                           session.loadPending);
}

constexpr engine::EventRow<Session> kSessionEventRows[] = {
    {MPV_EVENT_SHUTDOWN, &handleShutdownLocked},
    {MPV_EVENT_LOG_MESSAGE, &handleLogLocked},
    {MPV_EVENT_SET_PROPERTY_REPLY, &handleReplyEventLocked},
    {MPV_EVENT_COMMAND_REPLY, &handleReplyEventLocked},
    {MPV_EVENT_START_FILE, &handleStartFileLocked},
    {MPV_EVENT_END_FILE, &handleEndFileLocked},
    {MPV_EVENT_FILE_LOADED, &handleFileLoadedLocked},
    {MPV_EVENT_SEEK, &handleSeekLocked},
    {MPV_EVENT_PROPERTY_CHANGE, &handlePropertyChangeLocked},
};

}  // namespace

void handleSessionEventLocked(Session& session, const mpv_event& event)
    REQUIRES(session.stateMutex, session.eventRole) {
  engine::dispatchEventLocked<Session>(kSessionEventRows, session, event);
}

void handleStreamEndLocked(Session& session, const engine::StreamEndFacts& facts)
    REQUIRES(session.stateMutex) {
  engine::applyStreamEnd(loadStateOf(session), facts);
}

namespace {

bool takeHook(Session& session, const mpv_event& event) REQUIRES(session.eventRole) {
  return engine::takeUrlHook<Session, loadStateOf>(session, event);
}

struct SessionTurn {};

// A wait for data that made no progress for the bound ends the load, and a
// live outage reloads its source. The stop or reload is queued under the
// lock: a load marks the snapshot under it before it queues its own command,
// so the engine gets the stop before any later load and never stops one.
// Queuing an asynchronous command waits for nothing.
void endTurnLocked(Session& session, SessionTurn&, int64_t nowNs) REQUIRES(session.stateMutex) {
  const engine::WaitStep step = engine::endWaitTurn(
      loadStateOf(session), session.snapshot.buffering, session.stallTimeoutSeconds, nowNs);
  engine::sendWaitStep(session.mpv, step, session.source);
}

// Event thread, stateMutex not held.
void afterTurn(Session& session, const SessionTurn&) REQUIRES(session.eventRole) {
  engine::followFieldFlags(session.mpv, session.deinterlacing, engine::eventClockNs());
}

constexpr engine::PlayerEvents<Session, SessionTurn> kSessionEvents{
    .rows = kSessionEventRows,
    .takeUnlocked = &takeHook,
    .beginLocked = nullptr,
    .streamEndLocked = &handleStreamEndLocked,
    .endLocked = &endTurnLocked,
    .afterUnlocked = &afterTurn,
};

}  // namespace

// The engine is called outside stateMutex (but for the queued stop of a
// stalled load): the facts of an end are read before it, a new turn queued
// after it.
void runEventLoop(SessionRef session) {
  threads::RoleScope role(session->eventRole);
  engine::runEventTurns(*session, kSessionEvents, 0.1);
}

}  // namespace hosted_mpv
