// Fuzzes the frame reader's open and copy path against hostile segments:
// random sizes and header bytes written into a real shared-memory object,
// then header fields changed again after the reader has checked them, as a
// broken or malicious writer could.
//
// Property: the reader never reads outside its mapping. The link wraps mmap
// and munmap (-Wl,--wrap): the read-only mapping the reader asks for is
// handed out as a heap copy of exactly the segment's size, so AddressSanitizer
// reports any byte read past its end. A failed open leaves nothing mapped
// and gives one of the fixed messages; a copy that succeeds returns the bytes
// of the slot that its sequence number names.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "frame_ring_layout.h"
#include "property_check.h"
#include "ring_reader.h"

using frame_ring::RingHeader;
using fuzz_check::check;

extern "C" void* __real_mmap(void* address, size_t length, int protection, int flags, int fd,
                             off_t offset);
extern "C" int __real_munmap(void* address, size_t length);

namespace {

// Heap copies handed out in place of read-only shared mappings, by address.
std::map<void*, size_t> gCheckedMappings;

constexpr uint64_t kMaxSegmentBytes = 256 * 1024;

// The byte at `offset` of every segment this target writes.
uint8_t patternAt(uint64_t offset) { return static_cast<uint8_t>((offset * 31 + 7) % 251); }

const std::vector<uint8_t>& patternBytes() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> out(kMaxSegmentBytes);
    for (uint64_t i = 0; i < out.size(); ++i) out[i] = patternAt(i);
    return out;
  }();
  return bytes;
}

// What makeHeader writes over the pattern: the header and the layout word.
constexpr uint64_t kWrittenHeaderBytes = frame_ring::kRingPixelLayoutOffset + sizeof(uint32_t);

template <typename T>
void put(std::vector<uint8_t>& header, size_t offset, T value) {
  std::memcpy(header.data() + offset, &value, sizeof value);
}

// The header: 104 raw fuzz bytes, or a header with the right magic, version and
// pixel layout word and a geometry that is consistent, slightly off, or wild.
std::vector<uint8_t> makeHeader(FuzzedDataProvider& data, uint64_t& segmentBytes) {
  std::vector<uint8_t> header(sizeof(RingHeader));
  if (data.ConsumeBool()) {
    const std::vector<uint8_t> raw = data.ConsumeBytes<uint8_t>(sizeof(RingHeader));
    if (!raw.empty()) std::memcpy(header.data(), raw.data(), raw.size());
    segmentBytes = data.ConsumeIntegralInRange<uint64_t>(0, kMaxSegmentBytes);
    return header;
  }
  const uint32_t width = data.ConsumeIntegralInRange<uint32_t>(0, 64);
  const uint32_t height = data.ConsumeIntegralInRange<uint32_t>(0, 64);
  uint32_t stride = width * 4;
  uint64_t frameBytes = uint64_t{stride} * height;
  uint64_t dataOffset = frame_ring::kRingDataOffset;
  switch (data.ConsumeIntegralInRange(0, 4)) {
    case 0:
      break;
    case 1:
      dataOffset = data.ConsumeIntegral<uint64_t>();
      break;
    case 2:
      frameBytes = data.ConsumeIntegral<uint64_t>();
      break;
    case 3:
      stride = data.ConsumeIntegral<uint32_t>();
      break;
    default:
      dataOffset = data.ConsumeIntegralInRange<uint64_t>(0, 8192);
      break;
  }
  put(header, offsetof(RingHeader, magic), frame_ring::kRingMagic);
  put(header, offsetof(RingHeader, version),
      data.ConsumeBool() ? frame_ring::kRingVersion : data.ConsumeIntegral<uint32_t>());
  put(header, offsetof(RingHeader, width), width);
  put(header, offsetof(RingHeader, height), height);
  put(header, offsetof(RingHeader, stride), stride);
  put(header, offsetof(RingHeader, generation), data.ConsumeIntegral<uint32_t>());
  put(header, offsetof(RingHeader, frameBytes), frameBytes);
  put(header, offsetof(RingHeader, dataOffset), dataOffset);
  // A frame ready in its slot, so that copies happen.
  const uint64_t latest = data.ConsumeIntegralInRange<uint64_t>(0, 5);
  put(header, frame_ring::kRingLatestSeqOffset, latest);
  put(header, frame_ring::ringSlotSeqOffset(frame_ring::ringSlotForSeq(latest)), latest);
  // Either known pixel layout, mostly, so that copies happen in both.
  header.resize(kWrittenHeaderBytes);
  put(header, frame_ring::kRingPixelLayoutOffset,
      data.ConsumeIntegralInRange<uint32_t>(0, 4) < 4 ? data.ConsumeIntegralInRange<uint32_t>(0, 1)
                                                      : data.ConsumeIntegral<uint32_t>());
  // Around the size the geometry needs: exactly it, a few bytes less or more,
  // or anything within a page of it.
  const uint64_t needed = dataOffset + 3 * frameBytes;
  int64_t delta = 0;
  switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0:
      break;
    case 1:
      delta = -data.ConsumeIntegralInRange<int64_t>(1, 16);
      break;
    case 2:
      delta = data.ConsumeIntegralInRange<int64_t>(1, 16);
      break;
    default:
      delta = data.ConsumeIntegralInRange<int64_t>(-4100, 4100);
  }
  segmentBytes = needed + static_cast<uint64_t>(delta);  // wraps for wild geometries
  if (segmentBytes > kMaxSegmentBytes) {
    segmentBytes = data.ConsumeIntegralInRange<uint64_t>(0, kMaxSegmentBytes);
  }
  return header;
}

// Writes the segment: the pattern everywhere, then as much of the header as
// fits.
bool writeSegment(const std::string& name, const std::vector<uint8_t>& header,
                  uint64_t segmentBytes) {
  const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  bool ok =
      ftruncate(fd, static_cast<off_t>(segmentBytes)) == 0 &&
      pwrite(fd, patternBytes().data(), segmentBytes, 0) == static_cast<ssize_t>(segmentBytes);
  const size_t headerBytes = std::min<uint64_t>(header.size(), segmentBytes);
  ok = ok && pwrite(fd, header.data(), headerBytes, 0) == static_cast<ssize_t>(headerBytes);
  ::close(fd);
  return ok;
}

bool isKnownOpenError(std::string_view message) {
  for (const char* known :
       {"shm segment too small", "frame ring not initialized yet",
        "frame ring header is inconsistent", "shm segment smaller than its frames",
        "frame ring pixel layout is unknown"}) {
    if (message == known) return true;
  }
  return false;
}

// Copies the newest frame as the application would, and checks what it got.
void copyAndCheck(const frame_ring::RingMapping& mapping, std::vector<uint8_t>& frame) {
  const uint64_t latest = frame_ring::ringLatestSeq(mapping);
  uint64_t latestStored = 0;
  std::memcpy(&latestStored, mapping.base + frame_ring::kRingLatestSeqOffset, 8);
  check(latest == latestStored, "latestSeq is not the header's");

  frame_ring::FrameCopy copy;
  if (frame_ring::copyLatestFrame(mapping, frame.data(), copy)) {
    check(copy.seq == latest && latest != 0, "copied a frame other than latestSeq");
    const uint64_t start = mapping.dataOffset + (latest % 3) * mapping.frameBytes;
    for (uint64_t i = 0; i < mapping.frameBytes; ++i) {
      // Bytes inside the header and the layout word may have been changed
      // since the segment was written.
      if (start + i < kWrittenHeaderBytes) continue;
      check(frame[i] == patternAt(start + i), "copied bytes are not the slot's");
    }
  }
  (void)frame_ring::ringProducerAliveMs(mapping);
}

// After open: copies with the header as it was checked, then with header
// fields changed under the reader, as a broken writer could.
void exerciseCopies(FuzzedDataProvider& data, const frame_ring::RingMapping& mapping) {
  // At least one byte, so a ring of zero-sized frames still has a buffer.
  std::vector<uint8_t> frame(std::max<uint64_t>(mapping.frameBytes, 1));
  copyAndCheck(mapping, frame);
  auto* shared = const_cast<uint8_t*>(mapping.base);
  const int rounds = data.ConsumeIntegralInRange(0, 4);
  for (int round = 0; round < rounds; ++round) {
    // Any header field, magic and geometry included, may change; the reader
    // must keep to the geometry it checked at open.
    const size_t offset = data.ConsumeIntegralInRange<size_t>(0, sizeof(RingHeader) - 8);
    const uint64_t value = data.ConsumeBool() ? data.ConsumeIntegralInRange<uint64_t>(0, 7)
                                              : data.ConsumeIntegral<uint64_t>();
    std::memcpy(shared + offset, &value, sizeof value);
    copyAndCheck(mapping, frame);
  }
}

}  // namespace

extern "C" void* __wrap_mmap(void* address, size_t length, int protection, int flags, int fd,
                             off_t offset) {
  if (address != nullptr || protection != PROT_READ || fd < 0 || offset != 0 ||
      length > kMaxSegmentBytes) {
    return __real_mmap(address, length, protection, flags, fd, offset);
  }
  void* copy = std::malloc(length);
  if (copy == nullptr) return MAP_FAILED;
  if (pread(fd, copy, length, 0) != static_cast<ssize_t>(length)) {
    std::free(copy);
    return MAP_FAILED;
  }
  gCheckedMappings[copy] = length;
  return copy;
}

extern "C" int __wrap_munmap(void* address, size_t length) {
  const auto it = gCheckedMappings.find(address);
  if (it == gCheckedMappings.end()) return __real_munmap(address, length);
  check(it->second == length, "unmapped with another length than mapped");
  std::free(address);
  gCheckedMappings.erase(it);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static const std::string name = "/ompv-fuzz-reader-" + std::to_string(getpid());
  FuzzedDataProvider data(bytes, size);
  uint64_t segmentBytes = 0;
  const std::vector<uint8_t> header = makeHeader(data, segmentBytes);
  check(writeSegment(name, header, segmentBytes), "cannot write the test segment");

  frame_ring::RingMapping mapping;
  const char* error = frame_ring::mapRing(name.c_str(), mapping);
  shm_unlink(name.c_str());  // the mapping outlives the name, as after a helper exits
  if (error != nullptr) {
    check(isKnownOpenError(error), "unexpected open error");
    check(mapping.base == nullptr && gCheckedMappings.empty(), "failed open left a mapping");
    return 0;
  }
  check(mapping.length == segmentBytes, "mapping length is not the segment size");
  exerciseCopies(data, mapping);
  frame_ring::unmapRing(mapping);
  check(gCheckedMappings.empty(), "unmapRing left a mapping");
  return 0;
}
