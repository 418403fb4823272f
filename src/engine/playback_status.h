// What a player is doing, as both players keep it and show it in their
// snapshots.
#pragma once

#include <cstdint>

namespace engine {

enum class PlaybackStatus : int32_t {
  idle,
  loading,
  playing,
  paused,
  ended,
  error,
  // The player is gone: its engine shut down, or the session was disposed.
  closed,
};

// The text a snapshot shows; a value outside the enumeration gives "idle".
const char* playbackStatusText(PlaybackStatus status);

}  // namespace engine
