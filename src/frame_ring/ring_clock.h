// The clock of every time in the frame ring, for its writer and its reader.
#pragma once

#include <cstdint>

namespace frame_ring {

// CLOCK_MONOTONIC in nanoseconds: the clock of every time in the ring.
uint64_t monotonicNowNs();

}  // namespace frame_ring
