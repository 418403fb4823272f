#include "recording.h"

#include <ctime>

#include "engine_text.h"
#include "utc_time.h"

namespace hosted_mpv {
namespace {

const char* const kRecordTargetProperty = "stream-record";

// Queues the recording machine's request; its reply comes as its reply id.
// When the engine refuses to queue it no reply comes: the refusal settles it
// at once. Returns the engine's status (0 when nothing is asked).
int sendRecordRequest(Session& session, const engine::RecordRequest& request) {
  if (!request.send) return 0;
  const char* value = request.target.c_str();
  int status = mpv_set_property_async(session.mpv, request.replyId, kRecordTargetProperty,
                                      MPV_FORMAT_STRING, &value);
  if (status < 0) {
    threads::MutexLock lock(session.stateMutex);
    engine::recordingReplied(engine::kHostedRecordingRules, session.recordingMachine,
                             session.snapshot.recording, request.replyId, status,
                             engineText(status));
  }
  return status;
}

}  // namespace

int requestRecordingStart(Session& session, const std::string& path) {
  uint64_t replyId = takeAsyncRequestId();
  std::string startedAt = engine::formatUtcTimestamp(std::time(nullptr));
  engine::RecordRequest request;
  {
    // Written before the request: its reply may come before the call returns.
    threads::MutexLock lock(session.stateMutex);
    request = engine::recordingStartAsked(engine::kHostedRecordingRules, session.recordingMachine,
                                          session.snapshot.recording, replyId, path, startedAt);
  }
  return sendRecordRequest(session, request);
}

int requestRecordingStop(Session& session) {
  uint64_t replyId = takeAsyncRequestId();
  engine::RecordRequest request;
  {
    // Written before the request: its reply may come before the call returns.
    threads::MutexLock lock(session.stateMutex);
    request = engine::recordingStopAsked(engine::kHostedRecordingRules, session.recordingMachine,
                                         session.snapshot.recording, replyId);
  }
  return sendRecordRequest(session, request);
}

int stopRecordingBeforeLoad(Session& session) {
  uint64_t replyId = takeAsyncRequestId();
  engine::RecordRequest request;
  {
    threads::MutexLock lock(session.stateMutex);
    request = engine::recordingLoadStarting(engine::kHostedRecordingRules, session.recordingMachine,
                                            session.snapshot.recording, replyId);
  }
  int status = sendRecordRequest(session, request);
  if (status < 0) updateSessionError(session, engineText(status), false);
  return status;
}

void stopRecordingForTeardown(Session& session) {
  engine::RecordRequest request;
  {
    threads::MutexLock lock(session.stateMutex);
    request = engine::recordingPlayerClosing(session.snapshot.recording);
  }
  if (!request.send) return;
  const char* value = request.target.c_str();
  mpv_set_property(session.mpv, kRecordTargetProperty, MPV_FORMAT_STRING, &value);
}

}  // namespace hosted_mpv
