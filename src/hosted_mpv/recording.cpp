#include "recording.h"

#include <ctime>

#include "engine_text.h"
#include "utc_time.h"

namespace hosted_mpv {
namespace {

const char* const kRecordTargetProperty = "stream-record";

// Queues the new recording target ("" stops); its reply comes as `replyId`.
int queueRecordTarget(Session& session, uint64_t replyId, const std::string& path) {
  const char* value = path.c_str();
  return mpv_set_property_async(session.mpv, replyId, kRecordTargetProperty, MPV_FORMAT_STRING,
                                &value);
}

// Queues a stop and expects its reply. With `showAtOnce` the snapshot shows
// the recording stopped now and, when the engine refuses, running again with
// the engine's text; without it the snapshot is the caller's.
int queueRecordingStop(Session& session, bool showAtOnce) {
  uint64_t replyId = takeAsyncRequestId();
  {
    // Written before the request: its reply may come before the call returns.
    threads::MutexLock lock(session.stateMutex);
    expectRecordStop(session.replies, replyId, session.snapshot.recording.startedAt);
    session.engineHoldsFailedRecording = false;
    if (showAtOnce) engine::showRecordingStopped(session.snapshot.recording, "");
  }
  int status = queueRecordTarget(session, replyId, "");
  if (status < 0) {
    threads::MutexLock lock(session.stateMutex);
    std::string startedAt = session.replies.recordStopStartedAt;
    withdrawRecordStop(session.replies, replyId);
    if (showAtOnce)
      showRecordingRefusedStop(session.snapshot.recording, startedAt, engineText(status));
  }
  return status;
}

}  // namespace

int requestRecordingStart(Session& session, const std::string& path) {
  uint64_t replyId = takeAsyncRequestId();
  std::string startedAt = engine::formatUtcTimestamp(std::time(nullptr));
  bool heldFailedRecording;
  {
    // Written before the request: its reply may come before the call returns.
    threads::MutexLock lock(session.stateMutex);
    heldFailedRecording = session.engineHoldsFailedRecording;
    session.engineHoldsFailedRecording = false;  // the new target replaces it
    expectRecordStart(session.replies, replyId, path, startedAt);
    session.snapshot.recording.targetPath = path;
    engine::showRecordingRunning(session.snapshot.recording, startedAt, "");
  }
  int status = queueRecordTarget(session, replyId, path);
  if (status < 0) {
    threads::MutexLock lock(session.stateMutex);
    withdrawRecordStart(session.replies, replyId);
    session.engineHoldsFailedRecording = heldFailedRecording;
    engine::showRecordingStopped(session.snapshot.recording, engineText(status));
  }
  return status;
}

int requestRecordingStop(Session& session) { return queueRecordingStop(session, true); }

int stopRecordingBeforeLoad(Session& session) {
  bool recording;
  {
    threads::MutexLock lock(session.stateMutex);
    recording = session.snapshot.recording.active || session.engineHoldsFailedRecording;
    session.engineHoldsFailedRecording = false;
  }
  if (!recording) return 0;
  int status = queueRecordingStop(session, false);
  if (status < 0) updateSessionError(session, engineText(status), false);
  return status;
}

void stopRecordingForTeardown(Session& session) {
  bool recording;
  {
    threads::MutexLock lock(session.stateMutex);
    recording = session.snapshot.recording.active;
  }
  if (!recording) return;
  const char* value = "";
  mpv_set_property(session.mpv, kRecordTargetProperty, MPV_FORMAT_STRING, &value);
  threads::MutexLock lock(session.stateMutex);
  session.snapshot.recording.active = false;
  session.snapshot.recording.startedAt.clear();
}

}  // namespace hosted_mpv
