// One hosted player and the registry of live sessions.
//
// Threads that use a session: the JavaScript thread (creation, commands,
// snapshots, teardown), the main thread (views), the session's render queue
// (render context and every render), libmpv's threads (the render update
// callback), the display link thread and the session's event thread. What
// one of them alone touches is GUARDED_BY its role: gMainThread (views),
// renderQueue->worker (render context), eventRole (the event thread's).
// Lock order: a registry's mutex is never held together with any other lock;
// a session's stateMutex is a leaf lock. Neither is held while the engine is
// called synchronously ("Engine calls under locks", threads/mutex.h) or while
// work is dispatched.
#pragma once

#include <mpv/client.h>
#include <mpv/render.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "deinterlacing.h"
#include "mutex.h"
#include "platform/display_link.h"
#include "platform/main_thread.h"
#include "platform/native_view.h"
#include "platform/serial_queue.h"
#include "recording_machine.h"
#include "replies.h"
#include "snapshot.h"
#include "stream_end.h"
#include "thread_check.h"
#include "turn_watch.h"
#include "url_policy.h"

namespace hosted_mpv {

// Never copied or moved; made with std::make_shared and handled through
// std::shared_ptr. The destructor never calls libmpv and never touches
// displayLink or callbackContext: teardown (destroySession) owns those.
struct Session {
  // Immutable once registered.
  std::string id;

  // Calling thread: creation and teardown.
  mpv_handle* mpv = nullptr;
  DisplayLink* displayLink = nullptr;
  std::thread eventThread;
  // The one context handed to native callbacks; it never keeps the session
  // alive.
  std::weak_ptr<Session>* callbackContext = nullptr;

  // Set by creation before any render or callback can run, then immutable.
  std::shared_ptr<SerialQueue> renderQueue;

  // renderQueue only: created, used and released in its tasks.
  mpv_render_context* renderContext GUARDED_BY(renderQueue->worker) = nullptr;
  // The view's OpenGL context the render context draws with (the main
  // thread keeps its own reference, glContext); null on the software path.
  std::shared_ptr<GlContext> renderGlContext GUARDED_BY(renderQueue->worker);
  // surfaceGeneration when the last OpenGL frame was drawn. A window shows
  // nothing of its old frame once resized or hidden, so the first render
  // after a placement draws even when the engine has no new frame (it
  // redraws its current one).
  uint64_t drawnSurfaceGeneration GUARDED_BY(renderQueue->worker) = 0;

  // Main thread only.
  NativeViewRef nativeView GUARDED_BY(gMainThread);
  NativeViewRef hostView GUARDED_BY(gMainThread);
  NativeViewRef renderView GUARDED_BY(gMainThread);
  std::shared_ptr<GlPixelFormat> pixelFormat GUARDED_BY(gMainThread);
  std::shared_ptr<GlContext> glContext GUARDED_BY(gMainThread);
  bool softwareRenderer = false;
  // ORVANEL_TRACE_HOSTED_MPV as it was at creation: the render queue and the
  // event thread never read the environment, which JavaScript may change
  // (and reallocate) under them at any time.
  bool traceEnabled = false;
  // The bound on a wait for data without progress (0: none), from the
  // stall-timeout extra option.
  double stallTimeoutSeconds = engine::kDefaultStallTimeoutSeconds;
  // Held by the event thread while it runs (runEventLoop), and by creation
  // before it starts.
  threads::ThreadRole eventRole;
  // Event thread only.
  engine::FieldFollower deinterlacing GUARDED_BY(eventRole);
  // The schemes the engine may open (url_guard.h); absent: all.
  std::optional<engine::UrlPolicy> urlPolicy;
  // Software path: the turn of rotated video, made in the engine's filter
  // chain; started by creation, stopped by teardown (turn_watch.h).
  engine::TurnWatch turnWatch;

  // No lock: release stores, acquire loads, acquire-release exchanges.
  std::atomic<bool> running{false};
  std::atomic<bool> renderScheduled{false};
  std::atomic<bool> renderRequested{false};
  std::atomic<uint64_t> renderedFrameCount{0};
  std::atomic<uint64_t> skippedFrameCount{0};
  std::atomic<uint64_t> totalRenderNanos{0};

  threads::Mutex stateMutex;
  SessionSnapshot snapshot GUARDED_BY(stateMutex);
  // The requests whose replies settle the snapshot (replies.h).
  PendingReplies replies GUARDED_BY(stateMutex);
  int32_t surfaceWidth GUARDED_BY(stateMutex) = 0;
  int32_t surfaceHeight GUARDED_BY(stateMutex) = 0;
  double backingScale GUARDED_BY(stateMutex) = 1.0;
  // The largest software frame worth drawing for the view: what its screen
  // can show (maxLayerContentsSize), read with the surface size.
  int32_t maxFrameWidth GUARDED_BY(stateMutex) = kMaxLayerContentsSide;
  int32_t maxFrameHeight GUARDED_BY(stateMutex) = kMaxLayerContentsSide;
  // Counts the placements that set the three fields above.
  uint64_t surfaceGeneration GUARDED_BY(stateMutex) = 0;
  bool paused GUARDED_BY(stateMutex) = false;
  bool fileLoaded GUARDED_BY(stateMutex) = false;
  bool loadPending GUARDED_BY(stateMutex) = false;
  // What the current file's stream went through.
  engine::StreamWatch streamWatch GUARDED_BY(stateMutex);
  // The source's facts, its outage and the load a reload repeats.
  engine::LiveSource source GUARDED_BY(stateMutex);
  // The recording requests on their way and a failed target the engine
  // still holds, which the next load clears (recording_machine.h).
  engine::RecordingMachine recordingMachine GUARDED_BY(stateMutex);
};

using SessionRef = std::shared_ptr<Session>;

// The sessions of one Node environment: each environment that loads the
// module has its own registry (module_state.cpp), so a session belongs to the
// environment that created it and an id from another one is unknown here.
// Used on that environment's JavaScript thread (its calls and its clean-up
// hook); `mutex` is held only for the map operation itself.
struct SessionRegistry {
  threads::Mutex mutex;
  std::unordered_map<std::string, SessionRef> sessions GUARDED_BY(mutex);
};

// Process-wide, shared by every environment: ids are unique in the process,
// so an id never names a session of another environment by accident, and the
// event threads match replies by id alone.
extern std::atomic<uint64_t> gNextSessionNumber;
extern std::atomic<uint64_t> gNextAsyncRequestId;

// "hosted-mpv-" and the next session number; a number is never given twice.
std::string takeSessionId();
// The reply id of the next asynchronous engine request; never 0.
uint64_t takeAsyncRequestId();

// The session registered under `id`, or null.
SessionRef findSession(SessionRegistry& registry, const std::string& id) EXCLUDES(registry.mutex);
// Registers the session under its id unless the id is taken.
void registerSession(SessionRegistry& registry, const SessionRef& session) EXCLUDES(registry.mutex);
// Removes the session registered under `id` and returns it (null when none).
SessionRef removeSession(SessionRegistry& registry, const std::string& id) EXCLUDES(registry.mutex);
// Empties the registry and returns what it held.
std::vector<SessionRef> removeAllSessions(SessionRegistry& registry) EXCLUDES(registry.mutex);

// Status Error with `message`. Any thread.
void updateSessionError(Session& session, const std::string& message, bool fromEngine)
    EXCLUDES(session.stateMutex);

// A copy of the snapshot. Any thread.
SessionSnapshot copySnapshot(Session& session) EXCLUDES(session.stateMutex);

}  // namespace hosted_mpv
