// How many frames per second the helper's render pipeline publishes: a real
// engine plays a lavfi test source into a headless context, and the frame
// ring's latestSeq is sampled over a fixed time.
//
//   pipeline_fps [width height [source-rate [seconds]]]     default 1280 720 30 10
//
// The engine paces rendering to the video's timing (the render call waits for
// each frame's display time), so the source rate is the ceiling; raise it to
// find what the machine can sustain.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench_engine.h"
#include "json_writer.h"
#include "output_lines.h"
#include "render_pipeline.h"
#include "software_renderer.h"

using namespace frame_helper;
using namespace frame_ring;

namespace {

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

uint64_t latestSeq(const RingHeader* header) {
  return __atomic_load_n(ringWord(reinterpret_cast<const uint8_t*>(header), kRingLatestSeqOffset),
                         __ATOMIC_ACQUIRE);
}

}  // namespace

int main(int argc, char** argv) {
  const int width = argc > 2 ? std::atoi(argv[1]) : 1280;
  const int height = argc > 2 ? std::atoi(argv[2]) : 720;
  const int rate = argc > 3 ? std::atoi(argv[3]) : 30;
  const int seconds = argc > 4 ? std::atoi(argv[4]) : 10;

  mpv_handle* mpv = createBenchEngine({{"vo", "libmpv"}, {"audio", "no"}, {"idle", "yes"},
                                       {"input-default-bindings", "no"}, {"osc", "no"}});
  if (!mpv) return 1;

  static RenderPipeline pipeline;
  pipeline.config.mpv = mpv;
  pipeline.config.shmBase = "/ompv-bench-" + std::to_string(getpid());
  pipeline.config.width = width;
  pipeline.config.height = height;
  // As the helper does: cheap scalers on a software rasteriser.
  pipeline.config.onSoftwareRenderer = [mpv] { applySoftwareRendererOptions(mpv, {}); };
  // A failed start or resize says why, as the helper does; rings go unannounced.
  pipeline.config.report = [](const RenderReport& report) {
    if (report.kind == RenderReport::Kind::fatal) emitLine(renderReportLine(report));
  };
  std::string error;
  if (!pipeline.gl.create(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (!pipeline.start()) {
    mpv_terminate_destroy(mpv);
    return 1;
  }

  const std::string source = "av://lavfi:testsrc2=size=" + std::to_string(width) + "x" +
                             std::to_string(height) + ":rate=" + std::to_string(rate);
  const char* load[] = {"loadfile", source.c_str(), nullptr};
  mpv_command(mpv, load);

  // The ring belongs to the render thread; peeking at its header from here is
  // what any reader process does.
  const RingHeader* header = pipeline.ring.header;
  while (latestSeq(header) < 10) std::this_thread::sleep_for(std::chrono::milliseconds(10));

  const uint64_t firstSeq = latestSeq(header);
  const double firstCpu = cpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const uint64_t lastSeq = latestSeq(header);
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = cpuSeconds() - firstCpu;

  pipeline.stop();
  mpv_terminate_destroy(mpv);

  std::printf("%dx%d source %d fps: %.1f frames/s published, %.0f%% of one core\n", width, height,
              rate, static_cast<double>(lastSeq - firstSeq) / elapsed, 100.0 * cpu / elapsed);
  return 0;
}
