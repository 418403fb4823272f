// The asynchronous engine requests whose replies settle the snapshot: a load,
// a recording start and a recording stop. Each is expected under its reply id
// before it is queued (its reply may come before the call that queued it
// returns), withdrawn when the engine refuses to queue it, and settled by the
// event thread when its reply comes. At most one of each kind is expected: a
// newer request of a kind replaces the older, whose reply then settles nothing.
//
// Guarded by the session's stateMutex, like the snapshot the replies settle:
// Session::replies is GUARDED_BY it, so passing it to any function here
// without the lock does not compile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "snapshot.h"

namespace hosted_mpv {

// Reply ids are never 0, so 0 is "none expected".
struct PendingReplies {
  uint64_t loadId = 0;
  uint64_t recordStartId = 0;
  std::string recordStartTargetPath;
  std::string recordStartStartedAt;
  // The engine's recorder failed while the start was on its way: the engine
  // logs that as soon as it takes the target, which can be before the reply
  // is queued. The reply, though it succeeds, then settles a failed start.
  std::string recordStartFailure;
  // Set when a start settled failed that way: the engine keeps the target in
  // "stream-record", which the event thread must have cleared (it moves the
  // mark to the session and resets this).
  bool startFailedInEngine = false;
  uint64_t recordStopId = 0;
  // The start time the snapshot showed before the stop, shown again if the
  // engine fails the stop.
  std::string recordStopStartedAt;
  // Recording requests a load made moot: their replies settle nothing.
  std::vector<uint64_t> mootIds;
};

void expectLoad(PendingReplies& replies, uint64_t replyId);
void expectRecordStart(PendingReplies& replies, uint64_t replyId, const std::string& targetPath,
                       const std::string& startedAt);
void expectRecordStop(PendingReplies& replies, uint64_t replyId, const std::string& startedAt);

// The engine refused to queue the request `replyId`: no reply will come.
// Each does nothing when a newer request of its kind is expected instead.
void withdrawLoad(PendingReplies& replies, uint64_t replyId);
void withdrawRecordStart(PendingReplies& replies, uint64_t replyId);
void withdrawRecordStop(PendingReplies& replies, uint64_t replyId);

// A load ends whatever recording the requests on their way would settle (the
// engine takes them, and the load, in order): their replies are forgotten and
// settle nothing, so a late reply cannot bring back the recording the load
// cleared from the snapshot.
void forgetRecordingReplies(PendingReplies& replies);

// Whether a recording start or stop is on its way.
bool recordingReplyPending(const PendingReplies& replies);

// The recorder failed with `text` while a start is on its way: returns true
// and keeps it for the start's reply; false when no start is expected.
bool noteRecorderFailureForStart(PendingReplies& replies, const std::string& text);

// Each applies the reply `replyId` (with the engine's `error` status) to the
// snapshot when it is the one expected of its kind, forgets the expectation
// and returns true; otherwise changes nothing and returns false. A refused
// load sets the status Error; a refused recording request leaves the status
// and error alone and says why in the recording fields.
bool settleLoadLocked(PendingReplies& replies, SessionSnapshot& snapshot, uint64_t replyId,
                      int error);
bool settleRecordStartLocked(PendingReplies& replies, SessionSnapshot& snapshot, uint64_t replyId,
                             int error);
bool settleRecordStopLocked(PendingReplies& replies, SessionSnapshot& snapshot, uint64_t replyId,
                            int error);
// The three above, in that order, after the forgotten ones: true when the
// reply was expected or forgotten.
bool settleReplyLocked(PendingReplies& replies, SessionSnapshot& snapshot, uint64_t replyId,
                       int error);

// A stop the engine refused leaves the recording as it was before the stop:
// running since `startedAt`, or stopped when nothing ran (no start time).
void showRecordingRefusedStop(engine::RecordingState& recording, const std::string& startedAt,
                              const std::string& error);

}  // namespace hosted_mpv
