#include "snapshot.h"

namespace hosted_mpv {

const char* sessionStatusText(SessionStatus status) {
  switch (status) {
    case SessionStatus::idle:
      return "idle";
    case SessionStatus::loading:
      return "loading";
    case SessionStatus::playing:
      return "playing";
    case SessionStatus::paused:
      return "paused";
    case SessionStatus::ended:
      return "ended";
    case SessionStatus::error:
      return "error";
    case SessionStatus::closed:
      return "closed";
  }
  return "idle";
}

}  // namespace hosted_mpv
