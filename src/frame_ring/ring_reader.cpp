#include "ring_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "fd_closer.h"
#include "ring_clock.h"

namespace frame_ring {

namespace {

// Nanoseconds from `then` to `now` in milliseconds. Signed, so that a stamp
// newer than `now` gives a small negative age rather than a huge one.
double elapsedMs(uint64_t now, uint64_t then) {
  return static_cast<double>(static_cast<int64_t>(now - then)) / 1e6;
}

// Null when the header describes a ring that fits in `segmentBytes`, else the
// message to throw. Every copy relies on this: the reader must not touch a
// byte outside its mapping, whatever the header says.
const char* checkGeometry(const RingHeader& h, uint64_t segmentBytes) {
  const uint64_t stride = static_cast<uint64_t>(h.width) * kRingBytesPerPixel;
  uint64_t slotBytes = 0;
  uint64_t end = 0;
  if (h.stride != stride || h.frameBytes != stride * h.height ||
      h.dataOffset < sizeof(RingHeader) ||
      __builtin_mul_overflow(h.frameBytes, uint64_t{kRingSlotCount}, &slotBytes) ||
      __builtin_add_overflow(h.dataOffset, slotBytes, &end)) {
    return "frame ring header is inconsistent";
  }
  if (end > segmentBytes) return "shm segment smaller than its frames";
  return nullptr;
}

// The ring's pixel layout word, read once like the geometry; false for a
// value this reader does not know. A header area too short to hold the word
// (only a hand-made ring has one) reads as the default.
bool readPixelLayout(const uint8_t* base, uint64_t dataOffset, PixelLayout& out) {
  uint32_t word = 0;
  if (dataOffset >= kRingPixelLayoutOffset + sizeof word) {
    std::memcpy(&word, base + kRingPixelLayoutOffset, sizeof word);
  }
  if (word > static_cast<uint32_t>(PixelLayout::rgbaTopDown)) return false;
  out = static_cast<PixelLayout>(word);
  return true;
}

}  // namespace

const char* mapRing(const char* name, RingMapping& out) {
  FdCloser fd;
  fd.fd = shm_open(name, O_RDONLY, 0);
  if (fd.fd < 0) return "shm_open failed (helper gone?)";
  struct stat st {};
  if (fstat(fd.fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(RingHeader))) {
    return "shm segment too small";
  }
  const uint64_t length = static_cast<uint64_t>(st.st_size);
  void* mapped = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd.fd, 0);
  ::close(fd.fd);
  fd.fd = -1;
  if (mapped == MAP_FAILED) return "mmap failed";

  const auto* base = static_cast<const uint8_t*>(mapped);
  // The writer stores the magic last, after a full barrier: once it is seen,
  // the rest of the header is complete and no longer changes.
  const uint32_t magic = __atomic_load_n(reinterpret_cast<const uint32_t*>(base), __ATOMIC_ACQUIRE);
  RingHeader snapshot;
  std::memcpy(&snapshot, base, sizeof snapshot);
  const char* error = nullptr;
  if (magic != kRingMagic || snapshot.version != kRingVersion) {
    error = "frame ring not initialized yet";
  } else {
    error = checkGeometry(snapshot, length);
  }
  PixelLayout layout = PixelLayout::bgraBottomUp;
  if (error == nullptr && !readPixelLayout(base, snapshot.dataOffset, layout)) {
    error = "frame ring pixel layout is unknown";
  }
  if (error != nullptr) {
    munmap(mapped, length);
    return error;
  }

  out.base = base;
  out.length = length;
  out.header = reinterpret_cast<const RingHeader*>(base);
  out.width = snapshot.width;
  out.height = snapshot.height;
  out.stride = snapshot.stride;
  out.generation = snapshot.generation;
  out.frameBytes = snapshot.frameBytes;
  out.dataOffset = snapshot.dataOffset;
  out.layout = layout;
  return nullptr;
}

void unmapRing(RingMapping& mapping) {
  if (mapping.base != nullptr) munmap(const_cast<uint8_t*>(mapping.base), mapping.length);
  mapping = RingMapping{};
}

uint64_t ringLatestSeq(const RingMapping& mapping) {
  if (mapping.base == nullptr) return 0;
  return __atomic_load_n(ringWord(mapping.base, kRingLatestSeqOffset),
                         __ATOMIC_ACQUIRE);
}

bool copyLatestFrame(const RingMapping& mapping, uint8_t* dst, FrameCopy& out) {
  const uint64_t seq = ringLatestSeq(mapping);
  if (seq == 0) return false;
  const uint32_t slot = ringSlotForSeq(seq);
  const uint64_t* slotSeq = ringWord(mapping.base, ringSlotSeqOffset(slot));
  if (__atomic_load_n(slotSeq, __ATOMIC_ACQUIRE) != seq) return false;  // being rewritten

  if (mapping.frameBytes != 0) {
    std::memcpy(dst, mapping.base + mapping.dataOffset + slot * mapping.frameBytes,
                mapping.frameBytes);
  }
  const uint64_t now = monotonicNowNs();
  // Read inside the checked window, so a frame that is not torn also has its
  // own stamp.
  const uint64_t stamp = __atomic_load_n(
      ringWord(mapping.base, ringSlotTimestampOffset(slot)), __ATOMIC_RELAXED);
  // The acquire load below keeps later reads after it, not the copy's reads:
  // this fence does, so a copy that saw any byte of a newer frame also sees
  // the slot's seq changed.
  ringAcquireBarrier();
  out.torn = __atomic_load_n(slotSeq, __ATOMIC_ACQUIRE) != seq;
  out.seq = seq;
  out.ageMs = elapsedMs(now, stamp);
  return true;
}

double ringProducerAliveMs(const RingMapping& mapping) {
  if (mapping.base == nullptr) return -1;
  const uint64_t heartbeat = __atomic_load_n(
      ringWord(mapping.base, kRingHeartbeatOffset), __ATOMIC_RELAXED);
  if (heartbeat == 0) return -1;
  return elapsedMs(monotonicNowNs(), heartbeat);  // now read after the heartbeat
}

}  // namespace frame_ring
