#include "playback_status.h"

#include <array>
#include <cstddef>

namespace engine {

namespace {

// In the order of PlaybackStatus's values.
constexpr std::array<const char*, 7> kStatusTexts = {"idle",  "loading", "playing", "paused",
                                                     "ended", "error",   "closed"};
static_assert(kStatusTexts.size() == static_cast<size_t>(PlaybackStatus::closed) + 1,
              "one text per status");

}  // namespace

const char* playbackStatusText(PlaybackStatus status) {
  const auto at = static_cast<size_t>(status);
  return at < kStatusTexts.size() ? kStatusTexts[at] : "idle";
}

}  // namespace engine
