#include "snapshot.h"

#include <array>
#include <cstddef>

namespace hosted_mpv {

namespace {

// In the order of SessionStatus's values.
constexpr std::array<const char*, 7> kStatusTexts = {"idle",  "loading", "playing", "paused",
                                                     "ended", "error",   "closed"};
static_assert(kStatusTexts.size() == static_cast<size_t>(SessionStatus::closed) + 1,
              "one text per status");

}  // namespace

const char* sessionStatusText(SessionStatus status) {
  const auto at = static_cast<size_t>(status);
  return at < kStatusTexts.size() ? kStatusTexts[at] : "idle";
}

}  // namespace hosted_mpv
