// The render thread end to end: a real engine playing a lavfi source, a
// headless EGL context (tests named ...Egl need one; Mesa's software device
// will do), and the frame ring read back through its own shared memory.
#include "render_pipeline.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "json_writer.h"
#include "output_lines.h"
#include "shm_view.h"
#include "software_renderer.h"

using namespace frame_helper;
using namespace frame_ring;
using namespace std::chrono_literals;

namespace {

// Top half red, bottom half blue: the first row in memory must be blue.
constexpr const char* kSplitSource =
    "av://lavfi:color=c=red:s=320x120:r=30,pad=w=320:h=240:x=0:y=0:color=blue";

std::string uniqueBase() { return uniqueShmName("pipeline"); }

// Polls `done` every 5 ms for up to `limit`.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// A read-only mapping of a ring by name, as the reader process has it.
struct RingMapping : ShmView {
  using ShmView::ShmView;

  const RingHeader& header() const { return *reinterpret_cast<const RingHeader*>(bytes); }
  uint64_t load(size_t offset) const {
    return __atomic_load_n(ringWord(bytes, offset), __ATOMIC_ACQUIRE);
  }
  uint64_t latestSeq() const { return load(kRingLatestSeqOffset); }
  uint64_t heartbeat() const { return load(kRingHeartbeatOffset); }
  uint64_t slotSeq(uint32_t slot) const { return load(ringSlotSeqOffset(slot)); }

  // The newest frame, or empty when there is none or it was torn.
  std::vector<uint8_t> copyLatest(uint64_t& seq) const {
    seq = latestSeq();
    if (seq == 0) return {};
    const uint32_t slot = ringSlotForSeq(seq);
    if (slotSeq(slot) != seq) return {};
    const uint64_t frameBytes = header().frameBytes;
    const uint8_t* pixels = bytes + header().dataOffset + slot * frameBytes;
    std::vector<uint8_t> frame(pixels, pixels + frameBytes);
    if (slotSeq(slot) != seq) return {};
    return frame;
  }
};

// Average colour of one row of a BGRA frame.
struct Colour {
  double blue = 0, green = 0, red = 0;
};
Colour rowColour(const std::vector<uint8_t>& frame, uint32_t width, uint32_t row) {
  Colour c;
  const uint8_t* p = frame.data() + static_cast<size_t>(row) * width * 4;
  for (uint32_t x = 0; x < width; ++x, p += 4) {
    c.blue += p[0];
    c.green += p[1];
    c.red += p[2];
  }
  c.blue /= width;
  c.green /= width;
  c.red /= width;
  return c;
}
bool isBlue(const Colour& c) { return c.blue > 200 && c.red < 50 && c.green < 50; }
bool isRed(const Colour& c) { return c.red > 200 && c.blue < 50 && c.green < 50; }

struct RingEvent {
  std::string name;
  int32_t width;
  int32_t height;
  uint32_t generation;
};

// One pipeline on its own thread over a fresh engine (video to libmpv, no
// audio). Stops, joins and destroys everything in its destructor.
class PipelineHarness {
 public:
  explicit PipelineHarness(int32_t width, int32_t height, std::string base = uniqueBase(),
                           bool withEngine = true) {
    if (withEngine) {
      mpv = mpv_create();
      mpv_set_option_string(mpv, "vo", "libmpv");
      mpv_set_option_string(mpv, "audio", "no");
      mpv_set_option_string(mpv, "idle", "yes");
      mpv_set_option_string(mpv, "input-default-bindings", "no");
      mpv_set_option_string(mpv, "osc", "no");
      mpv_initialize(mpv);
    }
    pipeline.config.mpv = mpv;
    pipeline.config.shmBase = base;
    pipeline.config.width = width;
    pipeline.config.height = height;
    // Reports are written as the helper writes them, and rings recorded.
    pipeline.config.report = [this](const RenderReport& report) {
      emitLine(renderReportLine(report));
      if (report.kind != RenderReport::Kind::ring) return;
      {
        std::lock_guard<std::mutex> lock(eventsMutex);
        events.push_back({report.ringName, report.width, report.height, report.generation});
      }
      eventsChanged.notify_all();
    };
    pipeline.config.onSoftwareRenderer = [this] { softwareRendererCalls.fetch_add(1); };
  }

  bool createContext() {
    std::string error;
    const bool created = pipeline.gl.create(error);
    EXPECT_TRUE(created) << error;
    return created;
  }

  int32_t start() {
    pipeline.start();
    return pipeline.readyState.load(std::memory_order_acquire);
  }

  // Waits for the ring event of `generation` and returns it.
  std::optional<RingEvent> waitForRing(uint32_t generation) {
    std::unique_lock<std::mutex> lock(eventsMutex);
    std::optional<RingEvent> found;
    eventsChanged.wait_for(lock, 10s, [&] {
      for (const RingEvent& e : events) {
        if (e.generation == generation) found = e;
      }
      return found.has_value();
    });
    return found;
  }

  std::vector<RingEvent> ringEvents() {
    std::lock_guard<std::mutex> lock(eventsMutex);
    return events;
  }

  void command(std::vector<const char*> args) {
    args.push_back(nullptr);
    ASSERT_GE(mpv_command(mpv, args.data()), 0);
  }

  void stop() { pipeline.stop(); }

  ~PipelineHarness() {
    stop();
    if (mpv) mpv_terminate_destroy(mpv);
  }

  mpv_handle* mpv = nullptr;
  RenderPipeline pipeline;
  std::atomic<int> softwareRendererCalls{0};

 private:
  std::mutex eventsMutex;
  std::condition_variable eventsChanged;
  std::vector<RingEvent> events;
};

}  // namespace

// Both ways of reading frames back, and the software renderer drawing into
// the slots, must publish the same frames the same way; `choice` and
// `readBack` pick one whatever the renderer.
static void checkPublishing(RendererChoice choice, ReadBack readBack) {
  PipelineHarness h(320, 240);
  h.pipeline.config.rendererChoice = choice;
  h.pipeline.config.readBack = readBack;
  ASSERT_TRUE(h.createContext());
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(h.start(), 1);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(h.pipeline.readBack, readBack);
  EXPECT_EQ(h.pipeline.renderPath,
            choice == RendererChoice::software ? RenderPath::software : RenderPath::gl);

  // The first ring exists before the engine plays anything.
  const std::optional<RingEvent> first = h.waitForRing(1);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->name, h.pipeline.config.shmBase + "-g1");
  EXPECT_EQ(first->width, 320);
  EXPECT_EQ(first->height, 240);
  ASSERT_EQ(h.ringEvents().size(), 1u);
  std::optional<RingMapping> ring1;
  ring1.emplace(first->name);
  ASSERT_NE(ring1->bytes, nullptr);
  EXPECT_EQ(ring1->header().magic, kRingMagic);
  EXPECT_EQ(ring1->header().generation, 1u);

  h.command({"loadfile", kSplitSource});
  ASSERT_TRUE(waitFor([&] { return ring1->latestSeq() >= 5; }));
  uint64_t seq = 0;
  std::vector<uint8_t> frame;
  ASSERT_TRUE(waitFor([&] { return !(frame = ring1->copyLatest(seq)).empty(); }));
  ASSERT_EQ(frame.size(), 320u * 240u * 4u);
  // Bottom row of the picture first in memory, top row last; BGRA bytes.
  EXPECT_TRUE(isBlue(rowColour(frame, 320, 0)));
  EXPECT_TRUE(isBlue(rowColour(frame, 320, 100)));
  EXPECT_TRUE(isRed(rowColour(frame, 320, 140)));
  EXPECT_TRUE(isRed(rowColour(frame, 320, 239)));
  const uint64_t earlier = seq;
  ASSERT_TRUE(waitFor([&] { return ring1->latestSeq() > earlier + 3; }));

  // Paused: no new frames, but the heartbeat keeps going.
  ASSERT_GE(mpv_set_property_string(h.mpv, "pause", "yes"), 0);
  uint64_t settled = 0;
  ASSERT_TRUE(waitFor([&] {
    const uint64_t before = ring1->latestSeq();
    std::this_thread::sleep_for(400ms);
    settled = ring1->latestSeq();
    return settled == before;
  }));
  const uint64_t beat1 = ring1->heartbeat();
  std::this_thread::sleep_for(350ms);
  const uint64_t beat2 = ring1->heartbeat();
  EXPECT_GT(beat2, beat1);
  EXPECT_LT(monotonicNowNs() - beat2, 1000000000u);
  EXPECT_EQ(ring1->latestSeq(), settled);

  // A size request makes generation 2 under a new name, unlinks the old one,
  // and renders one frame even though the engine has none; its number
  // continues the old ring's.
  h.pipeline.requestSize(480, 360);
  const std::optional<RingEvent> second = h.waitForRing(2);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->name, h.pipeline.config.shmBase + "-g2");
  EXPECT_EQ(second->width, 480);
  EXPECT_EQ(second->height, 360);
  EXPECT_FALSE(shmNameExists(first->name));
  const uint64_t lastOfFirst = ring1->latestSeq();
  ring1.reset();

  RingMapping ring2(second->name);
  ASSERT_NE(ring2.bytes, nullptr);
  EXPECT_EQ(ring2.header().width, 480u);
  EXPECT_EQ(ring2.header().generation, 2u);
  ASSERT_TRUE(waitFor([&] { return ring2.latestSeq() != 0; }));
  std::this_thread::sleep_for(300ms);
  uint64_t firstOfSecond = UINT64_MAX;
  for (uint32_t slot = 0; slot < kRingSlotCount; ++slot) {
    if (ring2.slotSeq(slot) != 0) firstOfSecond = std::min(firstOfSecond, ring2.slotSeq(slot));
  }
  EXPECT_EQ(firstOfSecond, lastOfFirst + 1);
  ASSERT_TRUE(waitFor([&] { return !(frame = ring2.copyLatest(seq)).empty(); }));
  EXPECT_TRUE(isBlue(rowColour(frame, 480, 0)));
  EXPECT_TRUE(isRed(rowColour(frame, 480, 359)));

  // The same size again rebuilds nothing.
  h.pipeline.requestSize(480, 360);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(h.ringEvents().size(), 2u);

  ASSERT_GE(mpv_set_property_string(h.mpv, "pause", "no"), 0);
  const uint64_t resumedFrom = ring2.latestSeq();
  EXPECT_TRUE(waitFor([&] { return ring2.latestSeq() > resumedFrom + 3; }));

  h.stop();
  EXPECT_EQ(h.pipeline.readyState.load(), 1);
  EXPECT_FALSE(shmNameExists(second->name));
  EXPECT_EQ(h.pipeline.gl.context, nullptr);
  threads::RoleScope afterTheThread(h.pipeline.renderThread);
  EXPECT_EQ(h.pipeline.renderContext, nullptr);
}

TEST(RenderPipelineEgl, PublishesUprightFramesFollowsResizesAndCleansUpWithPixelBuffers) {
  checkPublishing(RendererChoice::gl, ReadBack::pixelBuffers);
}

TEST(RenderPipelineEgl, PublishesUprightFramesFollowsResizesAndCleansUpReadingDirectly) {
  checkPublishing(RendererChoice::gl, ReadBack::direct);
}

TEST(RenderPipelineEgl, PublishesUprightFramesFollowsResizesAndCleansUpWithTheSoftwareRenderer) {
  checkPublishing(RendererChoice::software, ReadBack::direct);
}

TEST(RenderPipelineEgl, StopDuringAWaitEndsTheThreadAtOnce) {
  PipelineHarness h(64, 64);
  ASSERT_TRUE(h.createContext());
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(h.start(), 1);
  const std::string diagnostics = ::testing::internal::GetCapturedStderr();

  // The renderer name goes to stderr; a software one runs the callback and
  // reads frames back directly, any other through pixel buffers.
  const size_t at = diagnostics.find("gl renderer: ");
  ASSERT_NE(at, std::string::npos) << diagnostics;
  const std::string renderer = diagnostics.substr(at + 13, diagnostics.find('\n', at) - (at + 13));
  const bool software = isSoftwareGlRenderer(renderer);
  EXPECT_EQ(h.softwareRendererCalls.load(), software ? 1 : 0) << renderer;
  EXPECT_EQ(h.pipeline.readBack, software ? ReadBack::direct : ReadBack::pixelBuffers) << renderer;
  // Left to itself, the pipeline draws with the engine's software renderer
  // exactly where OpenGL is a software rasteriser.
  EXPECT_EQ(h.pipeline.renderPath, software ? RenderPath::software : RenderPath::gl) << renderer;
  EXPECT_NE(diagnostics.find(software ? "render path: software (auto: " : "render path: opengl (auto: "),
            std::string::npos)
      << diagnostics;
  const std::optional<RingEvent> first = h.waitForRing(1);
  ASSERT_TRUE(first);
  EXPECT_TRUE(shmNameExists(first->name));
  const auto before = std::chrono::steady_clock::now();
  h.stop();
  // Far below the 100 ms wake interval, plus slack for slow sanitizer builds.
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  EXPECT_FALSE(shmNameExists(first->name));
}

TEST(RenderPipelineEgl, FailedStartsWriteTheirFatalEvent) {
  {
    // No context to bind.
    PipelineHarness h(64, 64, uniqueBase(), false);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(h.start(), -1);
    h.stop();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "{\"event\":\"fatal\",\"error\":\"render init failed: failed to bind the CGL "
              "render context\"}\n");
  }
  {
    // A ring name the system refuses: the first targets cannot be built.
    PipelineHarness h(64, 64, "/ompv-test-no/such-dir", false);
    ASSERT_TRUE(h.createContext());
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(h.start(), -1);
    h.stop();
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "{\"event\":\"fatal\",\"error\":\"render init failed: framebuffer setup failed\"}\n");
    EXPECT_EQ(h.pipeline.gl.context, nullptr);
    EXPECT_TRUE(h.ringEvents().empty());
  }
}

TEST(RenderPipelineEgl, FailedResizeEndsRenderingAndRemovesTheRing) {
  for (const RendererChoice choice : {RendererChoice::gl, RendererChoice::software}) {
  SCOPED_TRACE(choice == RendererChoice::gl ? "opengl" : "software");
  PipelineHarness h(64, 64);
  h.pipeline.config.rendererChoice = choice;
  ASSERT_TRUE(h.createContext());
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(h.start(), 1);
  const std::optional<RingEvent> first = h.waitForRing(1);
  ASSERT_TRUE(first);

  ::testing::internal::CaptureStdout();
  ::testing::internal::GetCapturedStderr();
  // Wider than any OpenGL texture may be.
  h.pipeline.requestSize(1 << 20, 16);
  // The thread ends by itself.
  const bool ended = waitFor([&] { return !shmNameExists(first->name); });
  h.stop();
  EXPECT_TRUE(ended);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "{\"event\":\"fatal\",\"error\":\"resize target rebuild failed\"}\n");
  EXPECT_EQ(h.pipeline.readyState.load(), 1);
  EXPECT_EQ(h.ringEvents().size(), 1u);
  threads::RoleScope afterTheThread(h.pipeline.renderThread);
  EXPECT_EQ(h.pipeline.renderContext, nullptr);
  }
}
