#include "deinterlacing.h"

namespace engine {

bool decidesDeinterlacing(std::string_view optionName) {
  return optionName == "deinterlace" || optionName == "vf";
}

void followFieldFlags(mpv_handle* mpv, FieldFollower& follower, int64_t nowNs) {
  if (follower.callerDecides) return;
  if (follower.newFile) {
    follower.newFile = false;
    follower.nextLookNs = 0;
    if (follower.filtering && mpv_set_property_string(mpv, "vf", "") >= 0) {
      follower.filtering = false;
    }
  }
  if (follower.filtering || nowNs < follower.nextLookNs) return;
  int interlaced = 0;
  // Unavailable until the file shows a frame: looked at again a tenth of a
  // second later, not at every event of a busy start.
  if (mpv_get_property(mpv, "video-frame-info/interlaced", MPV_FORMAT_FLAG, &interlaced) < 0) {
    follower.nextLookNs = nowNs + kFirstFrameLookIntervalNs;
    return;
  }
  follower.nextLookNs = nowNs + kFieldLookIntervalNs;
  if (!interlaced) return;
  follower.filtering = mpv_set_property_string(mpv, "vf", kDeinterlaceFilter) >= 0;
}

}  // namespace engine
