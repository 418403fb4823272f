// The volume as both players' callers give it and as the engine takes it.
#pragma once

#include <algorithm>

namespace engine {

// A volume on the callers' scale (1 is full volume) on the engine's (100):
// below 0 is silence, above 1 full volume. Not-a-number stays not-a-number,
// for the engine to refuse.
inline double engineVolume(double volume) { return (volume < 0 ? 0 : std::min(volume, 1.0)) * 100; }

}  // namespace engine
