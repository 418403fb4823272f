// Test cases compare a player's status with the text its snapshot shows for
// it, and failure messages name it.
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "playback_status.h"

namespace engine {

inline bool operator==(PlaybackStatus status, std::string_view text) {
  return playbackStatusText(status) == text;
}

// The status whose text is `text`; throws for a text no status has.
inline PlaybackStatus statusNamed(std::string_view text) {
  for (int i = 0; i <= static_cast<int>(PlaybackStatus::closed); ++i) {
    const auto status = static_cast<PlaybackStatus>(i);
    if (status == text) return status;
  }
  throw std::invalid_argument("no status " + std::string(text));
}

inline void PrintTo(PlaybackStatus status, std::ostream* out) {
  *out << playbackStatusText(status);
}

}  // namespace engine
