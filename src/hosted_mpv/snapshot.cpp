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

void selectTrack(std::vector<AudioTrack>& tracks, int64_t& selectedId, int64_t id) {
  selectedId = id >= 0 ? id : -1;
  for (AudioTrack& track : tracks) track.selected = track.id == selectedId;
}

}  // namespace hosted_mpv
