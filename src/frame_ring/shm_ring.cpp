#include "shm_ring.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <limits>

#include "fd_closer.h"

namespace frame_ring {

namespace {


// Segment size and stride for a width x height ring, or false when the
// geometry does not fit the header's fields or a file size.
bool ringGeometry(uint32_t width, uint32_t height, uint32_t& stride, uint64_t& frameBytes,
                  uint64_t& segmentBytes) {
  uint64_t pixels = static_cast<uint64_t>(width) * height;  // cannot overflow 64 bits
  uint64_t slotBytes = 0;
  if (__builtin_mul_overflow(width, kRingBytesPerPixel, &stride) ||
      __builtin_mul_overflow(pixels, uint64_t{kRingBytesPerPixel}, &frameBytes) ||
      __builtin_mul_overflow(frameBytes, uint64_t{kRingSlotCount}, &slotBytes) ||
      __builtin_add_overflow(slotBytes, kRingDataOffset, &segmentBytes)) {
    return false;
  }
  return segmentBytes <= static_cast<uint64_t>(std::numeric_limits<off_t>::max());
}

}  // namespace

bool ShmRing::create(const std::string& name, uint32_t width, uint32_t height, uint32_t generation,
                     PixelLayout layout) {
  close();
  // A segment left behind by a dead helper must not be picked up.
  shm_unlink(name.c_str());

  uint32_t stride = 0;
  uint64_t frameBytes = 0;
  uint64_t segmentBytes = 0;
  if (!ringGeometry(width, height, stride, frameBytes, segmentBytes)) return false;

  FdCloser fd;
  fd.fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd.fd < 0) return false;
  // ftruncate alone gives a sparse object: a /dev/shm without room for it
  // would only show later, as SIGBUS on a write to the mapping. Reserving
  // the pages now turns that into a failed create.
  if (ftruncate(fd.fd, static_cast<off_t>(segmentBytes)) != 0 ||
      posix_fallocate(fd.fd, 0, static_cast<off_t>(segmentBytes)) != 0) {
    shm_unlink(name.c_str());
    return false;
  }
  void* mapped = mmap(nullptr, segmentBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd.fd, 0);
  ::close(fd.fd);
  fd.fd = -1;
  if (mapped == MAP_FAILED) {
    shm_unlink(name.c_str());
    return false;
  }

  auto* ringHeader = static_cast<RingHeader*>(mapped);
  std::memset(ringHeader, 0, sizeof(RingHeader));
  ringHeader->version = kRingVersion;
  ringHeader->width = width;
  ringHeader->height = height;
  ringHeader->stride = stride;
  ringHeader->generation = generation;
  ringHeader->frameBytes = frameBytes;
  ringHeader->dataOffset = kRingDataOffset;
  const auto layoutWord = static_cast<uint32_t>(layout);
  std::memcpy(static_cast<uint8_t*>(mapped) + kRingPixelLayoutOffset, &layoutWord,
              sizeof layoutWord);
  // A reader that sees the magic sees the whole header.
  ringFullBarrier();
  __atomic_store_n(reinterpret_cast<uint32_t*>(mapped), kRingMagic, __ATOMIC_RELEASE);

  header = ringHeader;
  base = static_cast<uint8_t*>(mapped);
  mappedBytes = segmentBytes;
  shmName = name;
  return true;
}

void ShmRing::publish(const void* pixels, uint64_t seq) {
  if (header == nullptr || pixels == nullptr) return;
  std::memcpy(beginFrame(seq), pixels, header->frameBytes);
  finishFrame(seq);
}

uint8_t* ShmRing::beginFrame(uint64_t seq) {
  if (header == nullptr) return nullptr;
  const uint32_t slot = ringSlotForSeq(seq);
  __atomic_store_n(ringWord(base, ringSlotSeqOffset(slot)), uint64_t{0}, __ATOMIC_RELEASE);
  // The release store above orders what came before it, not the pixel writes
  // after it: without this fence a weakly ordered CPU may make new pixels
  // visible while the slot still shows the old seq, and a reader would take
  // a mixed frame as whole.
  ringReleaseBarrier();
  return base + header->dataOffset + slot * header->frameBytes;
}

void ShmRing::finishFrame(uint64_t seq) {
  if (header == nullptr) return;
  const uint32_t slot = ringSlotForSeq(seq);
  __atomic_store_n(ringWord(base, ringSlotTimestampOffset(slot)), monotonicNowNs(),
                   __ATOMIC_RELAXED);
  __atomic_store_n(ringWord(base, ringSlotSeqOffset(slot)), seq, __ATOMIC_RELEASE);
  __atomic_store_n(ringWord(base, kRingLatestSeqOffset), seq, __ATOMIC_RELEASE);
}

void ShmRing::storeHeartbeat(uint64_t nowNs) {
  if (header == nullptr) return;
  __atomic_store_n(ringWord(base, kRingHeartbeatOffset), nowNs, __ATOMIC_RELAXED);
}

void ShmRing::close() {
  if (base != nullptr) munmap(base, mappedBytes);
  if (!shmName.empty()) shm_unlink(shmName.c_str());
  header = nullptr;
  base = nullptr;
  mappedBytes = 0;
  shmName.clear();
}

}  // namespace frame_ring
