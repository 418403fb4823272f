#include "replies.h"

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

void withdrawLoad(PendingReplies& replies, uint64_t replyId) {
  if (replies.loadId == replyId) replies.loadId = 0;
}

bool settleLoadLocked(PendingReplies& replies, SessionSnapshot& snapshot, uint64_t replyId,
                      int error) {
  if (!takeExpected(replies.loadId, replyId)) return false;
  if (error < 0) {
    snapshot.status = engine::PlaybackStatus::error;
    snapshot.error = engineText(error);
  }
  return true;
}

}  // namespace hosted_mpv
