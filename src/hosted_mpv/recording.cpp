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
int sendRecordRequest(Session& session, const engine::RecordRequest& request)
    EXCLUDES(session.stateMutex) {
  if (!request.send) return 0;
  const char* value = request.target.c_str();
  int status = mpv_set_property_async(session.mpv, request.replyId, kRecordTargetProperty,
                                      MPV_FORMAT_STRING, &value);
  if (status < 0) {
    threads::MutexLock lock(session.stateMutex);
    engine::recordingReplied(kSessionProfile.recording, session.recordingMachine,
                             session.snapshot.recording, request.replyId, status,
                             engineText(status));
  }
  return status;
}

// A start into `*startPath`, or a stop when it is null: asked of the machine
// under the lock, sent after it.
int askRecording(Session& session, const std::string* startPath) EXCLUDES(session.stateMutex) {
  uint64_t replyId = takeAsyncRequestId();
  std::string startedAt = startPath ? engine::formatUtcTimestamp(std::time(nullptr)) : "";
  engine::RecordRequest request;
  {
    // Written before the request: its reply may come before the call returns.
    threads::MutexLock lock(session.stateMutex);
    engine::RecordingMachine& machine = session.recordingMachine;
    engine::RecordingState& shown = session.snapshot.recording;
    request = startPath
                  ? engine::recordingStartAsked(kSessionProfile.recording, machine, shown, replyId,
                                                *startPath, startedAt)
                  : engine::recordingStopAsked(kSessionProfile.recording, machine, shown, replyId);
  }
  return sendRecordRequest(session, request);
}

}  // namespace

int requestRecordingStart(Session& session, const std::string& path) {
  return askRecording(session, &path);
}

int requestRecordingStop(Session& session) { return askRecording(session, nullptr); }

int stopRecordingBeforeLoad(Session& session) {
  uint64_t replyId = takeAsyncRequestId();
  engine::RecordRequest request;
  {
    threads::MutexLock lock(session.stateMutex);
    request = engine::recordingLoadStarting(kSessionProfile.recording, session.recordingMachine,
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
