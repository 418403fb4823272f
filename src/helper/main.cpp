// orvanel_mpv_helper: plays one stream off-screen and publishes its frames in
// a shared-memory frame ring; commands on stdin, JSON lines on stdout.
//
// Threads: main (start-up, engine event loop, shutdown), signal watch
// (SIGTERM, SIGINT, SIGHUP; see signal_watch.h), render (the pipeline's run
// loop) and command reader (runStdinLoop), started in that order. The lock
// order is annotated in helper_state.h. The render thread never takes
// stateMutex.
#include <unistd.h>

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
#include "output_lines.h"
#include "player_setup.h"
#include "render_choice.h"
#include "render_size.h"
#include "runtime_probe.h"
#include "signal_watch.h"
#include "snapshot_timing.h"
#include "software_renderer.h"

using namespace frame_helper;

namespace {

// The process's one state record; everything else is handed it. Never
// destroyed once the command reader runs (see endProcess).
HelperState g_state;

// Ends the process without running static destructors: the detached command
// reader may still be blocked reading stdin and must never wake up to a
// destroyed state. emitLine has flushed every line already. Not
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
  HelperState& state = g_state;
  // Main's for good: the process ends without leaving main (endProcess).
  threads::RoleScope mainThread(state.mainThread);

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
  if (!setupPlayer(state, args, stdin, appliedSessionOptions, error)) {
    emitLine(fatalLine(error));
    return 1;
  }

  {
    threads::MutexLock lock(state.stateMutex);
    state.renderWidth = args.width;
    state.renderHeight = args.height;
  }
  RenderPipeline& pipeline = state.pipeline;
  RenderConfig& config = pipeline.config;
  config.mpv = state.mpv;
  config.shmBase = args.shmBase;
  // The first ring is bounded like every later one.
  const RenderSize firstSize = fitRenderSize(args.width, args.height, 0, 0).value();
  config.width = firstSize.width;
  config.height = firstSize.height;
  config.rendererChoice = rendererChoiceFromEnvironment();
  config.pixelLayout = args.pixelLayout;
  config.report = [](const RenderReport& report) { emitLine(renderReportLine(report)); };
  config.changeRing = [](uint32_t generation, const std::function<bool()>& create) {
    return changeRingExclusively(signalWatch, generation, create);
  };
  config.onSoftwareRenderer = [mpv = state.mpv, applied = appliedSessionOptions] {
    applySoftwareRendererOptions(mpv, applied);
  };
  config.onSoftwarePath = [mpv = state.mpv, applied = appliedSessionOptions] {
    applySoftwarePathOptions(mpv, applied);
  };

  if (!pipeline.gl.create(error)) {
    emitLine(fatalLine(error));
    mpv_terminate_destroy(state.mpv);
    return 1;
  }
  // The render thread registers the engine's render update callback itself,
  // once its render context exists, so it is in place once this returns.
  if (!pipeline.start()) {
    mpv_terminate_destroy(state.mpv);
    return 1;
  }

  emitLine(helloLine(static_cast<int64_t>(getpid())));

  std::thread commandReader(runStdinLoop, std::ref(state), stdin);

  enterRunning(signalWatch, [&] {
    state.running.store(false, std::memory_order_release);
    mpv_wakeup(state.mpv);
  });
  runEventLoop(state);
  // From here a signal ends the process at once (still unlinking the ring),
  // and nothing touches the engine from the watch thread any more.
  enterStopping(signalWatch);

  maybeEmitSnapshot(state, true);
  pipeline.stop();
  // A command still in progress finishes first; after this the reader never
  // touches the engine again.
  closeEngineToCommands(state);
  mpv_terminate_destroy(state.mpv);
  state.mpv = nullptr;
  if (commandReader.joinable()) commandReader.detach();
  emitLine(byeLine());
  endProcess(0);
}
