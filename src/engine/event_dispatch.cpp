#include "event_dispatch.h"

#include "ring_clock.h"

namespace engine {

int64_t eventClockNs() { return static_cast<int64_t>(frame_ring::monotonicNowNs()); }

}  // namespace engine
