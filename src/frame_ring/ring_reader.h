// Reader side of the shared-memory frame ring (layout and protocol in
// frame_ring_layout.h): maps a ring read-only, checks it, and copies frames.
//
// Threads: whichever single thread owns a RingMapping; no locks. Against the
// writer in another process only the ring's lock-free protocol is used.
#pragma once

#include <cstdint>

#include "frame_ring_layout.h"

namespace frame_ring {

struct RingMapping {
  const uint8_t* base = nullptr;                     // read-only mapping; null when nothing is open
  uint64_t length = 0;                               // the segment size when it was opened
  const RingHeader* header = nullptr;  // same address as base

  // Geometry, read once at open and checked against `length`. Copies use
  // these, never the shared header's fields, which another process can change.
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;
  uint32_t generation = 0;
  uint64_t frameBytes = 0;
  uint64_t dataOffset = 0;
  PixelLayout layout = PixelLayout::bgraBottomUp;
};

struct FrameCopy {
  uint64_t seq = 0;
  double ageMs = 0;
  bool torn = false;
};

// Maps the ring named `name` into `out`, which must be empty. Returns null on
// success, else the message to throw, with nothing mapped.
const char* mapRing(const char* name, RingMapping& out);

// Unmaps and clears `mapping`; harmless when nothing is mapped.
void unmapRing(RingMapping& mapping);

// The ring's latestSeq (acquire), 0 when nothing is mapped.
uint64_t ringLatestSeq(const RingMapping& mapping);

// Copies the newest complete frame into `dst` (mapping.frameBytes bytes).
// False, with nothing copied, when there is no frame or its slot is being
// rewritten. The mapping must be open.
bool copyLatestFrame(const RingMapping& mapping, uint8_t* dst, FrameCopy& out);

// Milliseconds since the producer's heartbeat, -1 without a mapping or before
// the first heartbeat.
double ringProducerAliveMs(const RingMapping& mapping);

}  // namespace frame_ring
