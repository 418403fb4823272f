#include "replies.h"

#include <algorithm>

#include "engine_text.h"

namespace hosted_mpv {
namespace {

// A reply settles its request only when ids match; 0 is never expected.
bool takeExpected(uint64_t& expectedId, uint64_t replyId) {
  if (replyId == 0 || replyId != expectedId) return false;
  expectedId = 0;
  return true;
}

}  // namespace

void expectLoad(PendingReplies& replies, uint64_t replyId) { replies.loadId = replyId; }

void expectRecordStart(PendingReplies& replies, uint64_t replyId, const std::string& targetPath,
                       const std::string& startedAt) {
  replies.recordStartId = replyId;
  replies.recordStartTargetPath = targetPath;
  replies.recordStartStartedAt = startedAt;
  replies.recordStartFailure.clear();
}

void expectRecordStop(PendingReplies& replies, uint64_t replyId, const std::string& startedAt) {
  replies.recordStopId = replyId;
  replies.recordStopStartedAt = startedAt;
}

void withdrawLoad(PendingReplies& replies, uint64_t replyId) {
  if (replies.loadId == replyId) replies.loadId = 0;
}

void withdrawRecordStart(PendingReplies& replies, uint64_t replyId) {
  if (replies.recordStartId != replyId) return;
  replies.recordStartId = 0;
  replies.recordStartTargetPath.clear();
  replies.recordStartStartedAt.clear();
  replies.recordStartFailure.clear();
}

void withdrawRecordStop(PendingReplies& replies, uint64_t replyId) {
  if (replies.recordStopId != replyId) return;
  replies.recordStopId = 0;
  replies.recordStopStartedAt.clear();
}

void forgetRecordingReplies(PendingReplies& replies) {
  for (uint64_t id : {replies.recordStartId, replies.recordStopId}) {
    if (id != 0) replies.mootIds.push_back(id);
  }
  replies.recordStartId = 0;
  replies.recordStartTargetPath.clear();
  replies.recordStartStartedAt.clear();
  replies.recordStartFailure.clear();
  replies.recordStopId = 0;
  replies.recordStopStartedAt.clear();
}

bool recordingReplyPending(const PendingReplies& replies) {
  return replies.recordStartId != 0 || replies.recordStopId != 0;
}

bool noteRecorderFailureForStart(PendingReplies& replies, const std::string& text) {
  if (replies.recordStartId == 0) return false;
  replies.recordStartFailure = text;
  return true;
}

bool settleLoadLocked(PendingReplies& replies, SessionSnapshot& snapshot, uint64_t replyId,
                      int error) {
  if (!takeExpected(replies.loadId, replyId)) return false;
  if (error < 0) {
    snapshot.status = SessionStatus::error;
    snapshot.error = engineText(error);
  }
  return true;
}

bool settleRecordStartLocked(PendingReplies& replies, SessionSnapshot& snapshot, uint64_t replyId,
                             int error) {
  if (!takeExpected(replies.recordStartId, replyId)) return false;
  std::string path = std::move(replies.recordStartTargetPath);
  std::string startedAt = std::move(replies.recordStartStartedAt);
  std::string failure = std::move(replies.recordStartFailure);
  replies.recordStartTargetPath.clear();
  replies.recordStartStartedAt.clear();
  replies.recordStartFailure.clear();
  snapshot.recording.targetPath = path;
  if (error < 0) {
    engine::showRecordingStopped(snapshot.recording, engineText(error));
  } else if (!failure.empty()) {
    engine::showRecordingStopped(snapshot.recording, failure);
    replies.startFailedInEngine = true;
  } else {
    engine::showRecordingRunning(snapshot.recording, startedAt, "");
  }
  return true;
}

bool settleRecordStopLocked(PendingReplies& replies, SessionSnapshot& snapshot, uint64_t replyId,
                            int error) {
  if (!takeExpected(replies.recordStopId, replyId)) return false;
  std::string startedAt = std::move(replies.recordStopStartedAt);
  replies.recordStopStartedAt.clear();
  if (error < 0) {
    showRecordingRefusedStop(snapshot.recording, startedAt, engineText(error));
  } else {
    engine::showRecordingStopped(snapshot.recording, "");
  }
  return true;
}

bool settleReplyLocked(PendingReplies& replies, SessionSnapshot& snapshot, uint64_t replyId,
                       int error) {
  auto moot = std::find(replies.mootIds.begin(), replies.mootIds.end(), replyId);
  if (replyId != 0 && moot != replies.mootIds.end()) {
    replies.mootIds.erase(moot);
    return true;
  }
  return settleLoadLocked(replies, snapshot, replyId, error) ||
         settleRecordStartLocked(replies, snapshot, replyId, error) ||
         settleRecordStopLocked(replies, snapshot, replyId, error);
}

void showRecordingRefusedStop(engine::RecordingState& recording, const std::string& startedAt,
                              const std::string& error) {
  if (startedAt.empty()) {
    engine::showRecordingStopped(recording, error);
  } else {
    engine::showRecordingRunning(recording, startedAt, error);
  }
}

}  // namespace hosted_mpv
