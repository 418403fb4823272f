#include "rotation.h"

#include <cstdlib>
#include <cstring>

#include "turn_filter.h"

namespace hosted_mpv {

void takeOverRotation(Session& session) {
  char* value = mpv_get_property_string(session.mpv, "video-rotate");
  int requested = 0;
  if (value) {
    requested = std::strcmp(value, "no") == 0 ? -1 : std::atoi(value);
    mpv_free(value);
  }
  session.requestedRotation = requested;
  mpv_set_property_string(session.mpv, "video-rotate", "no");
  mpv_hook_add(session.mpv, kTurnHookId, engine::kTurnHook, 0);
}

void turnForFile(Session& session, const mpv_event_hook& hook) {
  // The engine waits for the answer and serves these calls meanwhile; the
  // filter requests are taken before the answer that follows them.
  const int turn = engine::effectiveTurn(engine::upcomingVideoRotation(session.mpv),
                                         session.requestedRotation);
  engine::queueTurnFilter(session.mpv, session.turnDegrees, turn);
  session.turnDegrees = turn;
  mpv_hook_continue(session.mpv, hook.id);
}

void followVideoTrack(Session& session, int streamRotation) {
  const int turn = engine::effectiveTurn(streamRotation, session.requestedRotation);
  if (turn == session.turnDegrees) return;
  engine::queueTurnFilter(session.mpv, session.turnDegrees, turn);
  session.turnDegrees = turn;
}

}  // namespace hosted_mpv
