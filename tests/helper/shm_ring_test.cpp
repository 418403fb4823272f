#include "shm_ring.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "shm_view.h"

using namespace frame_ring;

namespace {

// A second, read-only mapping of a segment by name, as another process sees it.
struct ReaderView : ShmView {
  using ShmView::ShmView;

  // Little-endian integer of `width` bytes at `offset`, byte by byte.
  uint64_t le(size_t offset, int width) const {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | bytes[offset + i];
    return v;
  }
};

std::vector<uint8_t> frameOf(uint64_t bytes, uint8_t fill) {
  return std::vector<uint8_t>(bytes, fill);
}

}  // namespace

TEST(ShmRing, HeaderBytesOfA1280x720Ring) {
  const std::string name = uniqueShmName("hd");
  ShmRing ring;
  ASSERT_TRUE(ring.create(name, 1280, 720, 7));
  EXPECT_TRUE(ring.isMapped());
  EXPECT_EQ(ring.shmName, name);
  EXPECT_EQ(ring.mappedBytes, 11063296u);
  EXPECT_EQ(static_cast<void*>(ring.base), static_cast<void*>(ring.header));

  ReaderView view(name);
  ASSERT_NE(view.bytes, nullptr);
  ASSERT_EQ(view.size, 11063296u);
  EXPECT_EQ(std::memcmp(view.bytes, "FPMV", 4), 0);
  EXPECT_EQ(view.le(0, 4), 0x564D5046u);
  EXPECT_EQ(view.le(4, 4), 1u);         // version
  EXPECT_EQ(view.le(8, 4), 1280u);      // width
  EXPECT_EQ(view.le(12, 4), 720u);      // height
  EXPECT_EQ(view.le(16, 4), 5120u);     // stride
  EXPECT_EQ(view.le(20, 4), 7u);        // generation
  EXPECT_EQ(view.le(24, 8), 3686400u);  // frameBytes
  EXPECT_EQ(view.le(32, 8), 4096u);     // dataOffset
  // latestSeq, heartbeatNs, the three slot records and the rest of the
  // header area start out zero, as do the pixels.
  for (size_t i = 40; i < 4096; ++i) ASSERT_EQ(view.bytes[i], 0) << "header byte " << i;
  EXPECT_EQ(view.bytes[4096], 0);
  EXPECT_EQ(view.bytes[view.size - 1], 0);
  ring.close();
}

// The top-down RGBA layout is one word after the header, where the default
// layout's ring (above) has zero.
TEST(ShmRing, AnnouncesTheTopDownLayoutAfterTheHeader) {
  const std::string name = uniqueShmName("layout");
  ShmRing ring;
  ASSERT_TRUE(ring.create(name, 4, 2, 1, PixelLayout::rgbaTopDown));
  ReaderView view(name);
  ASSERT_NE(view.bytes, nullptr);
  EXPECT_EQ(view.le(0, 4), 0x564D5046u);
  EXPECT_EQ(view.le(104, 4), 1u);
  EXPECT_EQ(view.le(24, 8), 32u);  // frameBytes: the same geometry as the default's
  for (size_t i = 108; i < 4096; ++i) ASSERT_EQ(view.bytes[i], 0) << "header byte " << i;
  ring.close();
}

TEST(ShmRing, SequenceMapsToSlotsAndContinuesAcrossGenerations) {
  const std::string first = uniqueShmName("g1");
  const std::string second = uniqueShmName("g2");
  ShmRing ring;
  ASSERT_TRUE(ring.create(first, 8, 2, 1));
  const uint64_t frameBytes = 8 * 2 * 4;
  uint64_t nextSeq = 1;  // the writer's counter outlives each segment

  ReaderView old(first);
  ASSERT_NE(old.bytes, nullptr);
  const uint64_t before = monotonicNowNs();
  for (uint8_t fill : {0x11, 0x22}) ring.publish(frameOf(frameBytes, fill).data(), nextSeq++);
  EXPECT_EQ(old.le(40, 8), 2u);
  EXPECT_EQ(old.le(56, 8), 0u);  // slot 0 untouched
  EXPECT_EQ(old.le(72, 8), 1u);  // frame 1 in slot 1
  EXPECT_EQ(old.le(88, 8), 2u);  // frame 2 in slot 2
  EXPECT_GE(old.le(80, 8), before);
  EXPECT_GE(old.le(96, 8), old.le(80, 8));
  EXPECT_EQ(old.bytes[4096 + 1 * frameBytes], 0x11);
  EXPECT_EQ(old.bytes[4096 + 2 * frameBytes + frameBytes - 1], 0x22);

  // A new size: the old name goes, the sequence goes on.
  ASSERT_TRUE(ring.create(second, 4, 4, 2));
  EXPECT_FALSE(shmNameExists(first));
  for (uint8_t fill : {0x33, 0x44}) ring.publish(frameOf(frameBytes, fill).data(), nextSeq++);
  ReaderView view(second);
  ASSERT_NE(view.bytes, nullptr);
  EXPECT_EQ(view.le(20, 4), 2u);
  EXPECT_EQ(view.le(40, 8), 4u);
  EXPECT_EQ(view.le(56, 8), 3u);  // 3 -> slot 0
  EXPECT_EQ(view.le(72, 8), 4u);  // 4 -> slot 1
  EXPECT_EQ(view.le(88, 8), 0u);
  EXPECT_EQ(view.bytes[4096], 0x33);
  EXPECT_EQ(view.bytes[4096 + frameBytes], 0x44);
  EXPECT_EQ(view.bytes[4096 + 2 * frameBytes], 0);

  // A reader that still maps the old segment keeps a valid, frozen view.
  EXPECT_EQ(old.le(40, 8), 2u);
  EXPECT_EQ(old.bytes[4096 + 1 * frameBytes], 0x11);
  ring.close();
}

TEST(ShmRing, AFrameWrittenInPlaceIsHiddenUntilFinished) {
  const std::string name = uniqueShmName("inplace");
  ShmRing ring;
  EXPECT_EQ(ring.beginFrame(1), nullptr);  // nothing mapped: nowhere to write
  ring.finishFrame(1);
  ASSERT_TRUE(ring.create(name, 8, 2, 1));
  const uint64_t frameBytes = 8 * 2 * 4;
  ReaderView view(name);
  ASSERT_NE(view.bytes, nullptr);
  ring.publish(frameOf(frameBytes, 0x11).data(), 4);  // slot 1 holds frame 4

  // Frame 7 reuses slot 1: while it is being written the slot shows no frame
  // and latestSeq still names the last finished one.
  uint8_t* pixels = ring.beginFrame(7);
  ASSERT_EQ(pixels, ring.base + 4096 + frameBytes);
  EXPECT_EQ(view.le(72, 8), 0u);
  EXPECT_EQ(view.le(40, 8), 4u);
  std::memset(pixels, 0x77, frameBytes);
  const uint64_t before = monotonicNowNs();
  ring.finishFrame(7);
  EXPECT_EQ(view.le(72, 8), 7u);
  EXPECT_EQ(view.le(40, 8), 7u);
  EXPECT_GE(view.le(80, 8), before);
  EXPECT_EQ(view.bytes[4096 + frameBytes], 0x77);
  EXPECT_EQ(view.bytes[4096 + 2 * frameBytes - 1], 0x77);
  ring.close();
}

TEST(ShmRing, HeartbeatIsStoredAndIgnoredWithoutASegment) {
  const std::string name = uniqueShmName("hb");
  ShmRing ring;
  ring.storeHeartbeat(5);  // nothing mapped: no effect, no crash
  uint8_t pixel[4] = {1, 2, 3, 4};
  ring.publish(pixel, 1);
  ASSERT_TRUE(ring.create(name, 1, 1, 1));
  ReaderView view(name);
  ASSERT_NE(view.bytes, nullptr);
  EXPECT_EQ(view.le(48, 8), 0u);
  const uint64_t now = monotonicNowNs();
  ring.storeHeartbeat(now);
  EXPECT_EQ(view.le(48, 8), now);
  EXPECT_EQ(view.le(40, 8), 0u);
  ring.close();
}

TEST(ShmRing, ReplacesAStaleSegmentOfADeadProcess) {
  const std::string name = uniqueShmName("stale");
  int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 50), 0);
  ASSERT_EQ(write(fd, "FPMV-junk-left-behind", 21), 21);
  ::close(fd);

  ShmRing ring;
  ASSERT_TRUE(ring.create(name, 16, 16, 3));
  ReaderView view(name);
  ASSERT_NE(view.bytes, nullptr);
  EXPECT_EQ(view.size, 16u * 16 * 12 + 4096);
  EXPECT_EQ(view.le(0, 4), kRingMagic);
  EXPECT_EQ(view.le(20, 4), 3u);
  for (size_t i = 40; i < 104; ++i) ASSERT_EQ(view.bytes[i], 0) << "header byte " << i;
  ring.close();
}

TEST(ShmRing, CloseUnlinksAndClears) {
  const std::string name = uniqueShmName("close");
  ShmRing ring;
  ASSERT_TRUE(ring.create(name, 2, 2, 1));
  ASSERT_TRUE(shmNameExists(name));
  ring.close();
  EXPECT_FALSE(shmNameExists(name));
  EXPECT_FALSE(ring.isMapped());
  EXPECT_EQ(ring.base, nullptr);
  EXPECT_EQ(ring.mappedBytes, 0u);
  EXPECT_TRUE(ring.shmName.empty());
  ring.close();  // a second close is harmless
  EXPECT_FALSE(ring.isMapped());
}

TEST(ShmRing, FailedCreateLeavesNothingMapped) {
  const std::string first = uniqueShmName("ok");
  const std::string huge = uniqueShmName("huge");
  ShmRing ring;
  ASSERT_TRUE(ring.create(first, 2, 2, 1));
  // 4 x (2^32 - 1)^2 x 3 does not fit 64 bits: refused, not wrapped around
  // into a small segment.
  EXPECT_FALSE(ring.create(huge, 0xFFFFFFFFu, 0xFFFFFFFFu, 2));
  EXPECT_FALSE(ring.create(huge, 0x3FFFFFFFu, 0xFFFFFFFFu, 2));  // stride fits, 3 slots do not
  EXPECT_FALSE(ring.isMapped());
  EXPECT_TRUE(ring.shmName.empty());
  EXPECT_FALSE(shmNameExists(first));  // the previous segment is gone
  EXPECT_FALSE(shmNameExists(huge));
  // A name shm_open refuses.
  EXPECT_FALSE(ring.create("/ompv/with/slashes", 2, 2, 3));
  EXPECT_FALSE(ring.isMapped());
}

TEST(ShmRing, RefusesARingLargerThanSharedMemory) {
  // A sparse object of this size would be created and mapped, and the first
  // write past the room that /dev/shm has would raise SIGBUS in the writer.
  struct statvfs fs {};
  ASSERT_EQ(statvfs("/dev/shm", &fs), 0);
  const uint64_t capacity = static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize;
  if (capacity == 0) GTEST_SKIP() << "/dev/shm has no size limit";
  const uint32_t width = 65535;
  const uint64_t height = (capacity + (64u << 20)) / (uint64_t{width} * 12) + 1;
  ASSERT_LE(height, 0xFFFFFFFFu);

  const std::string name = uniqueShmName("nospace");
  ShmRing ring;
  EXPECT_FALSE(ring.create(name, width, static_cast<uint32_t>(height), 1));
  EXPECT_FALSE(ring.isMapped());
  EXPECT_FALSE(shmNameExists(name));
  // Room is still there for an ordinary ring afterwards.
  ASSERT_TRUE(ring.create(name, 64, 64, 2));
  ring.close();
}
