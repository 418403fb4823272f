// Writer side of the shared-memory frame ring (layout in frame_ring_layout.h).
//
// Threads: owned by the render thread (or the runtime probe on the main
// thread); one writer, any number of readers in other processes, no locks.
// Nothing here is annotated for the lock analysis: a ring is handed from
// thread to thread whole, not shared, and the readers synchronise through the
// header's atomics. The helper's render pipeline checks its owner in debug
// builds (threads::ThreadRole).
#pragma once

#include <cstdint>
#include <string>

#include "frame_ring_layout.h"
#include "ring_clock.h"

namespace frame_ring {

struct ShmRing {
  RingHeader* header = nullptr;  // null when no segment is mapped
  uint8_t* base = nullptr;       // same address as header
  uint64_t mappedBytes = 0;
  std::string shmName;  // empty when none

  // Replaces any current segment with a new, initialised one named `name`.
  // False (nothing mapped, `name` unlinked) when it cannot be opened
  // exclusively, sized (shared memory without room for all of it included)
  // or mapped. `layout` is announced in the header; the writer's caller
  // produces pixels in it.
  bool create(const std::string& name, uint32_t width, uint32_t height, uint32_t generation,
              PixelLayout layout = PixelLayout::bgraBottomUp);

  // Writes one frame of header->frameBytes bytes as frame `seq` by the
  // publication protocol. Does nothing without a segment.
  void publish(const void* pixels, uint64_t seq);

  // The publication protocol in two halves, for a writer that produces the
  // pixels in place: beginFrame marks frame `seq`'s slot as being written and
  // returns where its header->frameBytes bytes go (null without a segment);
  // finishFrame, after the pixels are written, stamps and publishes it.
  uint8_t* beginFrame(uint64_t seq);
  void finishFrame(uint64_t seq);

  // Stores `nowNs` as the producer heartbeat. Does nothing without a segment.
  void storeHeartbeat(uint64_t nowNs);

  // Unmaps the segment and unlinks its name; clears every field.
  void close();

  bool isMapped() const { return header != nullptr; }
};

}  // namespace frame_ring
