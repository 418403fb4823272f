// Layout of the shared-memory frame ring, shared by its writer (the helper's
// render thread) and its reader (the frame reader module). Header only: the
// two deliverables link nothing of each other.
//
// Segment: a 104-byte header and the pixel layout word in a 4096-byte header
// area, then three frame slots of frameBytes each. All integers little-endian (the only byte order
// the supported machines have). Times are CLOCK_MONOTONIC nanoseconds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace frame_ring {

inline constexpr uint32_t kRingMagic = 0x564D5046;  // the bytes "FPMV"
inline constexpr uint32_t kRingVersion = 1;
inline constexpr uint64_t kRingDataOffset = 4096;
inline constexpr uint32_t kRingSlotCount = 3;
inline constexpr uint32_t kRingBytesPerPixel = 4;  // B, G, R, A (or R, G, B, A)

// How a slot's pixels are laid out. The word sits right after the header, in
// bytes that rings of writers before it leave zero, so an old ring reads as
// the default; an old reader ignores it. Set before the magic and never
// changed, like the header.
//   bgraBottomUp: B, G, R, A, the picture's bottom row first (as OpenGL
//     reads a framebuffer back).
//   rgbaTopDown: R, G, B, A, the top row first: what a page's ImageData
//     holds, so a page shows a frame as it is.
enum class PixelLayout : uint32_t { bgraBottomUp = 0, rgbaTopDown = 1 };
inline constexpr size_t kRingPixelLayoutOffset = 104;

#pragma pack(push, 1)
struct RingSlot {
  uint64_t seq;          // frame in the slot; 0 while written or never written
  uint64_t timestampNs;  // publication time
};

struct RingHeader {
  uint32_t magic;  // stored last, after a full barrier
  uint32_t version;
  uint32_t width;
  uint32_t height;
  uint32_t stride;  // width * 4
  uint32_t generation;
  uint64_t frameBytes;  // width * height * 4
  uint64_t dataOffset;  // 4096
  uint64_t latestSeq;   // newest complete frame; 0 = none yet
  uint64_t heartbeatNs;  // render thread's last pass; 0 = none yet
  RingSlot slots[kRingSlotCount];
};
#pragma pack(pop)

static_assert(offsetof(RingHeader, magic) == 0);
static_assert(offsetof(RingHeader, version) == 4);
static_assert(offsetof(RingHeader, width) == 8);
static_assert(offsetof(RingHeader, height) == 12);
static_assert(offsetof(RingHeader, stride) == 16);
static_assert(offsetof(RingHeader, generation) == 20);
static_assert(offsetof(RingHeader, frameBytes) == 24);
static_assert(offsetof(RingHeader, dataOffset) == 32);
static_assert(offsetof(RingHeader, latestSeq) == 40);
static_assert(offsetof(RingHeader, heartbeatNs) == 48);
static_assert(offsetof(RingHeader, slots) + 0 * sizeof(RingSlot) == 56);
static_assert(offsetof(RingHeader, slots) + 1 * sizeof(RingSlot) == 72);
static_assert(offsetof(RingHeader, slots) + 2 * sizeof(RingSlot) == 88);
static_assert(sizeof(RingSlot) == 16);
static_assert(sizeof(RingHeader) == 104);
static_assert(sizeof(RingHeader) <= kRingDataOffset);
static_assert(kRingPixelLayoutOffset == sizeof(RingHeader));
static_assert(kRingDataOffset == 4096);

// Whole segment size for a width x height ring, in 64-bit arithmetic.
constexpr uint64_t ringSegmentBytes(uint32_t width, uint32_t height) {
  return static_cast<uint64_t>(width) * height * kRingBytesPerPixel * kRingSlotCount +
         kRingDataOffset;
}
static_assert(ringSegmentBytes(1280, 720) == 11063296);

// The slot that frame `seq` goes to.
constexpr uint32_t ringSlotForSeq(uint64_t seq) {
  return static_cast<uint32_t>(seq % kRingSlotCount);
}

// The header is packed for its fixed offsets, so its fields cannot be bound
// to references. Both sides reach the fields that change while the ring is in
// use through these offsets from the mapping's start: the mapping is page
// aligned, so every such field is naturally aligned and is loaded and stored
// with the __atomic builtins.
inline constexpr size_t kRingLatestSeqOffset = offsetof(RingHeader, latestSeq);
inline constexpr size_t kRingHeartbeatOffset = offsetof(RingHeader, heartbeatNs);

constexpr size_t ringSlotSeqOffset(uint32_t slot) {
  return offsetof(RingHeader, slots) + slot * sizeof(RingSlot) + offsetof(RingSlot, seq);
}
constexpr size_t ringSlotTimestampOffset(uint32_t slot) {
  return offsetof(RingHeader, slots) + slot * sizeof(RingSlot) + offsetof(RingSlot, timestampNs);
}
static_assert(ringSlotSeqOffset(1) == 72 && ringSlotTimestampOffset(2) == 96);

inline uint64_t* ringWord(uint8_t* base, size_t offset) {
  return reinterpret_cast<uint64_t*>(base + offset);
}
inline const uint64_t* ringWord(const uint8_t* base, size_t offset) {
  return reinterpret_cast<const uint64_t*>(base + offset);
}

// Memory barriers of the publication protocol. ThreadSanitizer does not model
// fences and GCC warns about them under it; the order they give is one
// between processes, which it cannot see anyway.
#pragma GCC diagnostic push
#if defined(__SANITIZE_THREAD__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wtsan"
#endif
inline void ringFullBarrier() { __atomic_thread_fence(__ATOMIC_SEQ_CST); }
inline void ringReleaseBarrier() { __atomic_thread_fence(__ATOMIC_RELEASE); }
inline void ringAcquireBarrier() { __atomic_thread_fence(__ATOMIC_ACQUIRE); }
#pragma GCC diagnostic pop

}  // namespace frame_ring
