// The asynchronous load request whose reply settles the snapshot. It is
// expected under its reply id before it is queued (its reply may come before
// the call that queued it returns), withdrawn when the engine refuses to
// queue it, and settled by the event thread when its reply comes. A newer
// load replaces the older, whose reply then settles nothing. Recording
// requests are the recording machine's (recording_machine.h).
//
// Guarded by the session's stateMutex, like the snapshot the replies settle:
// Session::replies is GUARDED_BY it, so passing it to any function here
// without the lock does not compile.
#pragma once

#include <cstdint>

#include "snapshot.h"

namespace hosted_mpv {

// Reply ids are never 0, so 0 is "none expected".
struct PendingReplies {
  uint64_t loadId = 0;
};

void expectLoad(PendingReplies& replies, uint64_t replyId);

// The engine refused to queue the load `replyId`: no reply will come. Does
// nothing when a newer load is expected instead.
void withdrawLoad(PendingReplies& replies, uint64_t replyId);

// Applies the reply `replyId` (with the engine's `error` status) to the
// snapshot when it is the expected load, forgets the expectation and returns
// true; otherwise changes nothing and returns false. A refused load sets the
// status Error.
bool settleLoadLocked(PendingReplies& replies, SessionSnapshot& snapshot, uint64_t replyId,
                      int error);

}  // namespace hosted_mpv
