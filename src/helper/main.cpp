// orvanel_mpv_helper: plays one stream off-screen and publishes its frames in
// a shared-memory frame ring; commands on stdin, JSON lines on stdout.
//
// Threads: main (start-up, engine event loop, shutdown), signal watch
// (SIGTERM, SIGINT, SIGHUP; see signal_watch.h), render (the pipeline's run
// loop) and command reader (runStdinLoop), started in that order. Lock order:
// commandMutex before stateMutex before the pipeline's mutex before the
// output lock. The render thread never takes stateMutex.
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "command_dispatch.h"
#include "event_loop.h"
#include "helper_args.h"
#include "helper_state.h"
#include "json_writer.h"
#include "player_setup.h"
#include "render_choice.h"
#include "render_size.h"
#include "runtime_probe.h"
#include "signal_watch.h"
#include "snapshot.h"
#include "software_renderer.h"

using namespace frame_helper;

namespace {

constexpr std::chrono::milliseconds kReadyPollInterval{5};

void emitFatal(const std::string& error) {
  emitLine(JsonWriter().str("event", "fatal").str("error", error).finish());
}

// Ends the process without running static destructors: the detached command
// reader may still be blocked reading stdin and must never wake up to a
// destroyed g_state. emitLine has flushed every line already. Not
// fflush(nullptr): that would wait for stdin's lock, which the reader holds
// while it is blocked reading (after a signal, say).
[[noreturn]] void endProcess(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  // Numbers are written and read with a decimal point whatever the locale.
  std::setlocale(LC_NUMERIC, "C");
  // A closed stdout makes writes fail quietly instead of ending the process.
  std::signal(SIGPIPE, SIG_IGN);
  const HelperArgs args = parseHelperArgs(argc, argv);
  if (args.runtimeProbe) return runRuntimeProbe();

  // Before the engine exists: its threads inherit the mask, so the end
  // signals reach the watch thread only. It lives until the process ends.
  // Never destroyed: the detached watch thread may use it until the very end,
  // also on the start-up failure paths that return from main.
  static SignalWatch& signalWatch = *new SignalWatch;
  signalWatch.shmBase = args.shmBase;
  blockEndSignals();
  std::thread(watchEndSignals, std::ref(signalWatch)).detach();

  std::set<std::string> appliedSessionOptions;
  std::string error;
  if (!setupPlayer(g_state, args, stdin, appliedSessionOptions, error)) {
    emitFatal(error);
    return 1;
  }

  RenderPipeline& pipeline = g_state.pipeline;
  pipeline.onRingCreated = [](const std::string& name, int32_t width, int32_t height,
                              uint32_t generation) {
    noteRingAnnounced(signalWatch, generation);
    emitLine(JsonWriter()
                 .str("event", "shm")
                 .str("name", name)
                 .num("width", width)
                 .num("height", height)
                 .num("generation", generation)
                 .finish());
  };
  pipeline.onSoftwareRenderer = [applied = appliedSessionOptions] {
    applySoftwareRendererOptions(g_state.mpv, applied);
  };
  pipeline.onSoftwarePath = [applied = appliedSessionOptions] {
    applySoftwarePathOptions(g_state.mpv, applied);
  };

  // No other thread runs yet: no lock needed.
  g_state.renderWidth = args.width;
  g_state.renderHeight = args.height;
  pipeline.mpv = g_state.mpv;
  pipeline.rendererChoice = rendererChoiceFromEnvironment();
  pipeline.shmBase = args.shmBase;
  // The first ring is bounded like every later one.
  const RenderSize firstSize = fitRenderSize(args.width, args.height, 0, 0).value();
  pipeline.width = firstSize.width;
  pipeline.height = firstSize.height;

  if (!pipeline.gl.create(error)) {
    emitFatal(error);
    mpv_terminate_destroy(g_state.mpv);
    return 1;
  }

  std::thread renderThread(&RenderPipeline::runLoop, &pipeline);
  int32_t ready;
  while ((ready = pipeline.readyState.load(std::memory_order_acquire)) == 0) {
    std::this_thread::sleep_for(kReadyPollInterval);
  }
  if (ready < 0) {
    // The render thread has written its fatal event and freed its resources.
    renderThread.join();
    mpv_terminate_destroy(g_state.mpv);
    return 1;
  }
  // The render thread registers the engine's render update callback itself,
  // once its render context exists, so it is in place by now.

  emitLine(JsonWriter()
               .str("event", "hello")
               .integer("pid", static_cast<int64_t>(getpid()))
               .num("protocolVersion", 1)
               .finish());

  std::thread commandReader(runStdinLoop, std::ref(g_state), stdin);

  enterRunning(signalWatch, [] {
    g_state.running.store(false, std::memory_order_release);
    mpv_wakeup(g_state.mpv);
  });
  runEventLoop(g_state);
  // From here a signal ends the process at once (still unlinking the ring),
  // and nothing touches the engine from the watch thread any more.
  enterStopping(signalWatch);

  maybeEmitSnapshot(g_state, true);
  pipeline.requestStop();
  renderThread.join();
  // A command still in progress finishes first; after this the reader never
  // touches the engine again.
  closeEngineToCommands(g_state);
  mpv_terminate_destroy(g_state.mpv);
  g_state.mpv = nullptr;
  if (commandReader.joinable()) commandReader.detach();
  emitLine(JsonWriter().str("event", "bye").finish());
  endProcess(0);
}
