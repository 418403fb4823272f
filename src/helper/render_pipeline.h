// The helper's render thread: libmpv draws each new video frame into an
// off-screen framebuffer, the pixels are read back asynchronously through
// three pixel-pack buffers (on a software rasteriser: straight into the ring,
// see ReadBack) and published into the shared-memory frame ring. Where OpenGL
// is itself a rasteriser on the CPU, the engine's software renderer draws
// each frame straight into its ring slot instead (RenderPath::software): the
// same ring, sizes, numbers and events for a fraction of the CPU.
//
// The owner fills `config`, creates `gl` and calls start(); the thread then
// sets itself up (render_pipeline.cpp), and each pass draws and publishes on
// the path it settled: gl_read_back.h for the OpenGL path and its two
// read-backs, software_path.h for the software renderer's.
//
// Threads: the render thread runs the pass loop and everything it calls, and
// is the only thread that touches the GL context, the render context and the
// ring after start(). The engine's update callback thread (onRenderUpdate),
// the main and command reader threads (requestSize, via applyRenderSizeLocked)
// and the main thread (requestStop) only set flags under `mutex` and wake
// the render thread. start() and stop() are the owner's (main thread).
// The render thread never takes stateMutex, and makes its reports ("shm" and
// "fatal") holding no lock.
#pragma once

#include <mpv/client.h>
#include <mpv/render.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "gl_context.h"
#include "gl_functions.h"
#include "json_writer.h"
#include "mutex.h"
#include "render_choice.h"
#include "shm_ring.h"
#include "thread_check.h"
#include "turn_watch.h"

namespace frame_helper {

// The ring writer is the helper's own record; it lives beside the reader.
using frame_ring::ShmRing;

// How finished frames leave the GL context.
//   pixelBuffers: glReadPixels into one of three pixel-pack buffers right
//     after the render, mapped and copied into the ring in the next pass.
//     Asynchronous on a GPU: the transfer runs while the thread waits.
//   direct: on a software rasteriser, where glReadPixels always waits for the
//     frame and converts it on the calling thread, the frame is flushed to
//     the rasteriser after the render and read back in the next pass straight
//     into its ring slot. The rasteriser's threads then draw it while this
//     thread waits for the engine, and the pixels cross memory once instead
//     of twice. Frames, numbers and the pass that publishes them are the same.
//   automatic: direct on a software renderer, else pixelBuffers; settled by
//     the thread's set-up.
enum class ReadBack { automatic, pixelBuffers, direct };

// What the render thread tells its owner, always in this one way: a new
// frame ring exists (the "shm" line), or rendering has ended for good (the
// "fatal" line).
struct RenderReport {
  enum class Kind { ring, fatal };
  Kind kind = Kind::ring;
  std::string ringName;     // ring: the shared-memory name
  int32_t width = 0;        // ring: frame size
  int32_t height = 0;
  uint32_t generation = 0;  // ring: render target sets built so far
  std::string error;        // fatal: what failed
  // ring: how its slots hold pixels
  frame_ring::PixelLayout layout = frame_ring::PixelLayout::bgraBottomUp;
};

// What the render thread is started with. Filled by the owner before start(),
// read-only from then on; the callbacks run on the render thread.
struct RenderConfig {
  mpv_handle* mpv = nullptr;  // outlives the thread
  std::string shmBase;        // ring names are shmBase + "-g" + generation
  int32_t width = 0;          // the first ring's frame size
  int32_t height = 0;
  RendererChoice rendererChoice = RendererChoice::automatic;
  ReadBack readBack = ReadBack::automatic;
  // How the rings hold pixels; both paths draw the other layout at no cost
  // of their own (a render parameter and the read-back format).
  frame_ring::PixelLayout pixelLayout = frame_ring::PixelLayout::bgraBottomUp;
  std::function<void(const RenderReport&)> report;  // may be empty
  std::function<void()> onSoftwareRenderer;         // OpenGL is a software rasteriser
  std::function<void()> onSoftwarePath;             // the software path is chosen
  // Runs `create`, which replaces the ring by the one of `generation` (the
  // old name unlinked, the new one made), and returns its result. The owner
  // uses it to keep an exit that unlinks the ring from running halfway
  // through. May be empty: `create` then runs as it is.
  std::function<bool(uint32_t generation, const std::function<bool()>& create)> changeRing;
};

struct RenderPipeline {
  RenderConfig config;
  // Created by the owner (main thread) before start(); the render thread's
  // from then on, until it destroys it.
  GlContext gl;
  // The render thread; started by start(), joined by start() on a failed
  // set-up or by stop().
  std::thread thread;

  // Held by the render thread for its whole run (runRenderThread): what only
  // that thread touches is GUARDED_BY it.
  threads::ThreadRole renderThread;

  // Settled by the render thread before readyState turns 1 (its release
  // store publishes them), and read-only from then on, by any thread.
  RenderPath renderPath = RenderPath::gl;
  ReadBack readBack = ReadBack::automatic;

  // Render thread only from start() on.
  GlFunctions glFunctions GUARDED_BY(renderThread);  // loaded once the context is current
  mpv_render_context* renderContext GUARDED_BY(renderThread) = nullptr;
  ShmRing ring GUARDED_BY(renderThread);
  uint32_t generation GUARDED_BY(renderThread) = 0;  // render target sets built so far
  int32_t width GUARDED_BY(renderThread) = 0;        // the current targets' size
  int32_t height GUARDED_BY(renderThread) = 0;
  uint64_t nextSequence GUARDED_BY(renderThread) = 1;  // never reset: numbers grow across rings

  // OpenGL path only (gl_read_back.h). GL names; 0 when absent.
  uint32_t texture GUARDED_BY(renderThread) = 0;
  uint32_t framebuffer GUARDED_BY(renderThread) = 0;
  std::array<uint32_t, 3> pixelBuffers GUARDED_BY(renderThread){};
  int32_t nextPixelBuffer GUARDED_BY(renderThread) = 0;      // where the next read-back goes
  int32_t pendingPixelBuffer GUARDED_BY(renderThread) = -1;  // read-back not yet published; -1 none
  bool framePending GUARDED_BY(renderThread) = false;  // direct: a rendered frame not yet read back

  // Software path only (software_path.h): the turn of rotated video, made in
  // the engine's filter chain by a thread of its own (engine/turn_watch.h).
  engine::TurnWatch turnWatch;
  // The engine writes upward into the slot.
  bool directSoftwareTarget GUARDED_BY(renderThread) = true;
  // The largest side OpenGL would take here: the software path refuses the
  // sizes the OpenGL path would, so both fail a resize alike.
  int32_t maxSoftwareSide GUARDED_BY(renderThread) = 0;
  std::vector<uint8_t> scratch GUARDED_BY(renderThread);  // a turned picture before it is written

  // `wake` pairs with it; writers notify after releasing it.
  threads::Mutex mutex ACQUIRED_BEFORE(gOutputMutex);
  std::condition_variable_any wake;
  // The engine has something new, or a size was requested.
  bool updatePending GUARDED_BY(mutex) = false;
  bool stopRequested GUARDED_BY(mutex) = false;
  int32_t pendingWidth GUARDED_BY(mutex) = 0;  // requested target size; 0 none
  int32_t pendingHeight GUARDED_BY(mutex) = 0;

  // 0 starting, 1 ready, -1 failed to start. Stored once by the render
  // thread under `mutex` (release), which then notifies `readyChanged`;
  // start() waits on it (acquire).
  std::atomic<int32_t> readyState{0};
  std::condition_variable_any readyChanged;  // pairs with `mutex`

  // Runs the render thread and waits until it is ready: true, or false when
  // its set-up failed (the fatal report made, everything freed, the thread
  // joined). Owner, once.
  bool start();
  // Ends the thread and joins it; nothing when it never ran. The thread also
  // ends by itself after a failed resize (its fatal report made). Owner.
  void stop();

  // Asks for targets of w x h on the next pass. Any thread.
  void requestSize(int32_t w, int32_t h) EXCLUDES(mutex);
  // Ends the thread at its next wake-up. Any thread.
  void requestStop() EXCLUDES(mutex);

  // libmpv's render update callback; `context` is the pipeline. Only sets a
  // flag and wakes the render thread. The render thread registers it itself
  // once the render context exists (libmpv allows one mpv_render_* call at a
  // time, so no other thread may call one while the render thread runs).
  static void onRenderUpdate(void* context);
};

// Render thread: builds the next generation's ring at the pipeline's width x
// height and reports it. False when the ring cannot be made.
bool createRing(RenderPipeline& p) REQUIRES(p.renderThread);

}  // namespace frame_helper
