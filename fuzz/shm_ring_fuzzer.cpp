// Fuzzes the frame ring writer: ShmRing::create with random sizes and
// generations, publication with random sequence numbers, and the reader
// taking the frames back.
//
// Properties:
// - create succeeds exactly when the segment fits 64 bits, a file size and
//   the shared-memory file system (sizes that would fit but need more than a
//   few MiB are not tried, to keep runs fast); on success the header and the
//   mapping have the ring's geometry, on failure nothing is mapped and the
//   name does not exist;
// - every published frame is what the reader copies back, untorn, with its
//   sequence number, in the slot seq mod 3;
// - a new create unlinks the previous segment, close unlinks the last.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "property_check.h"
#include "ring_reader.h"
#include "shm_ring.h"

using fuzz_check::check;

namespace {

constexpr unsigned __int128 kMaxTriedBytes = 4 * 1024 * 1024;

bool nameExists(const std::string& name) {
  const int fd = shm_open(name.c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

unsigned __int128 shmCapacityBytes() {
  struct statvfs fs {};
  if (statvfs("/dev/shm", &fs) != 0) return 0;
  return static_cast<unsigned __int128>(fs.f_blocks) * fs.f_frsize;
}

void checkFramesRoundTrip(FuzzedDataProvider& data, frame_ring::ShmRing& ring,
                          uint64_t& nextSeq) {
  frame_ring::RingMapping mapping;
  check(frame_ring::mapRing(ring.shmName.c_str(), mapping) == nullptr, "reader cannot open the ring");
  check(mapping.width == ring.header->width && mapping.height == ring.header->height &&
            mapping.frameBytes == uint64_t{mapping.width} * mapping.height * 4 &&
            mapping.length == ring.mappedBytes,
        "reader sees another geometry");
  check(frame_ring::ringLatestSeq(mapping) == 0, "a new ring has a frame");

  const uint64_t frameBytes = ring.header->frameBytes;
  std::vector<uint8_t> frame(std::max<uint64_t>(frameBytes, 1));
  std::vector<uint8_t> copied(frame.size());
  const int frames = data.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < frames; ++i) {
    const uint64_t seq = nextSeq++;
    std::memset(frame.data(), static_cast<int>(seq * 13 + 1), frame.size());
    ring.publish(frame.data(), seq);
    frame_ring::FrameCopy copy;
    check(frame_ring::copyLatestFrame(mapping, copied.data(), copy), "published frame not readable");
    check(copy.seq == seq && !copy.torn, "wrong or torn frame");
    check(std::memcmp(copied.data(), frame.data(), frameBytes) == 0, "pixels differ");
  }
  const uint64_t heartbeat = data.ConsumeIntegral<uint64_t>();
  ring.storeHeartbeat(heartbeat);
  check((frame_ring::ringProducerAliveMs(mapping) == -1) == (heartbeat == 0),
        "heartbeat not seen by the reader");
  frame_ring::unmapRing(mapping);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static const std::string names[2] = {"/ompv-fuzz-ring-" + std::to_string(getpid()) + "-a",
                                       "/ompv-fuzz-ring-" + std::to_string(getpid()) + "-b"};
  static const unsigned __int128 capacity = shmCapacityBytes();
  FuzzedDataProvider data(bytes, size);
  frame_ring::ShmRing ring;
  uint64_t nextSeq =
      data.ConsumeIntegralInRange<uint64_t>(1, std::numeric_limits<uint64_t>::max() - 16);

  const int creations = data.ConsumeIntegralInRange(1, 3);
  for (int i = 0; i < creations; ++i) {
    const std::string& name = names[i % 2];
    const bool small = data.ConsumeBool();
    const uint32_t width =
        small ? data.ConsumeIntegralInRange<uint32_t>(0, 256) : data.ConsumeIntegral<uint32_t>();
    const uint32_t height =
        small ? data.ConsumeIntegralInRange<uint32_t>(0, 256) : data.ConsumeIntegral<uint32_t>();
    const uint32_t generation = data.ConsumeIntegral<uint32_t>();
    const unsigned __int128 segmentBytes =
        static_cast<unsigned __int128>(width) * height * 12 + 4096;
    // The stride is a 32-bit header field, even for a ring of zero rows.
    const bool tooBig = uint64_t{width} * 4 > std::numeric_limits<uint32_t>::max() ||
                        segmentBytes > std::numeric_limits<off_t>::max() ||
                        (capacity != 0 && segmentBytes > capacity);
    if (!tooBig && segmentBytes > kMaxTriedBytes) continue;  // would fit, but slowly

    const std::string previous = ring.shmName;
    const bool created = ring.create(name, width, height, generation);
    check(previous.empty() || previous == name || !nameExists(previous),
          "the previous segment was not unlinked");
    check(created == !tooBig, "create disagrees with the segment size");
    if (!created) {
      check(!ring.isMapped() && ring.shmName.empty() && ring.mappedBytes == 0,
            "failed create left a mapping");
      check(!nameExists(name), "failed create left its name");
      continue;
    }
    check(ring.shmName == name && ring.mappedBytes == segmentBytes &&
              ring.header->generation == generation && ring.header->stride == width * 4,
          "header or mapping disagrees with the request");
    checkFramesRoundTrip(data, ring, nextSeq);
  }
  const std::string last = ring.shmName;
  ring.close();
  check(last.empty() || !nameExists(last), "close left the name");
  return 0;
}
