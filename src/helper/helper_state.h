// The helper's state record: one per process, owned by main and passed to
// every thread that needs it.
//
// Threads: main (start-up, engine event loop, shutdown), render (the
// pipeline's run loop) and command reader (standard input). The lock order
// is annotated (commandMutex, stateMutex, the pipeline's mutex, the output
// lock of emitLine). The render thread never takes stateMutex, and no engine
// call that waits for the engine runs under it ("Engine calls under locks",
// threads/mutex.h).
#pragma once

#include <mpv/client.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "buffering.h"
#include "deinterlacing.h"
#include "mutex.h"
#include "playback_status.h"
#include "recording_machine.h"
#include "recording_state.h"
#include "render_pipeline.h"
#include "stream_end.h"
#include "stream_stats.h"
#include "thread_check.h"
#include "tracks.h"
#include "url_policy.h"

namespace frame_helper {

struct HelperState {
  // Set before any thread but main runs, then read-only.
  mpv_handle* mpv = nullptr;
  // The bound on a wait for data without progress (0: none), from the
  // preamble's stall-timeout.
  double stallTimeoutSeconds = engine::kDefaultStallTimeoutSeconds;
  // The schemes the engine may open, from --allowed-schemes; absent: all.
  std::optional<engine::UrlPolicy> urlPolicy;

  // Held by main for the life of the process (main.cpp), and by the command
  // reader while it runs (runStdinLoop): what only one of them may touch is
  // GUARDED_BY its role, and what only it may run REQUIRES it.
  threads::ThreadRole mainThread;
  threads::ThreadRole commandReader;

  // Main thread only: set up before the engine starts, then its event turns.
  engine::FieldFollower deinterlacing GUARDED_BY(mainThread);

  // The render thread's object; its own comments say who touches what.
  RenderPipeline pipeline;

  threads::Mutex stateMutex ACQUIRED_AFTER(commandMutex) ACQUIRED_BEFORE(pipeline.mutex);
  engine::PlaybackStatus status GUARDED_BY(stateMutex) = engine::PlaybackStatus::idle;
  double positionSeconds GUARDED_BY(stateMutex) = 0;
  double durationSeconds GUARDED_BY(stateMutex) = -1;
  double volume GUARDED_BY(stateMutex) = 1.0;
  int64_t videoWidth GUARDED_BY(stateMutex) = 0;  // as displayed: turned by rotationDegrees
  int64_t videoHeight GUARDED_BY(stateMutex) = 0;
  // The engine's "dwidth" / "dheight", before the renderer's turn.
  int64_t engineVideoWidth GUARDED_BY(stateMutex) = 0;
  int64_t engineVideoHeight GUARDED_BY(stateMutex) = 0;
  // The engine's "video-out-params/rotate", clockwise.
  int64_t rotationDegrees GUARDED_BY(stateMutex) = 0;
  engine::StreamStats stats GUARDED_BY(stateMutex);
  std::string streamUrl GUARDED_BY(stateMutex);
  engine::MediaLists media GUARDED_BY(stateMutex);
  double playbackSpeed GUARDED_BY(stateMutex) = 1.0;
  std::string aspectOverride GUARDED_BY(stateMutex) = "no";
  engine::RecordingState recording GUARDED_BY(stateMutex);
  engine::Buffering buffering GUARDED_BY(stateMutex);
  // The record command's requests and a failed target the engine still
  // holds, which clearFailedRecording clears (recording_machine.h).
  engine::RecordingMachine recordingMachine GUARDED_BY(stateMutex);
  // The ids of the record command's requests.
  uint64_t recordingRequestCount GUARDED_BY(stateMutex) = 0;
  std::string error GUARDED_BY(stateMutex);
  bool errorFromEngine GUARDED_BY(stateMutex) = false;
  bool paused GUARDED_BY(stateMutex) = false;
  bool fileLoaded GUARDED_BY(stateMutex) = false;
  bool loadPending GUARDED_BY(stateMutex) = false;
  // What the current file's stream went through.
  engine::StreamWatch streamWatch GUARDED_BY(stateMutex);
  // The source's facts, its outage and the load a reload repeats.
  engine::LiveSource source GUARDED_BY(stateMutex);
  bool snapshotDirty GUARDED_BY(stateMutex) = true;
  // None before the first snapshot.
  std::optional<engine::PlaybackStatus> lastSnapshotStatus GUARDED_BY(stateMutex);
  bool lastSnapshotBuffering GUARDED_BY(stateMutex) = false;
  int64_t lastSnapshotNs GUARDED_BY(stateMutex) = 0;
  int32_t renderWidth GUARDED_BY(stateMutex) = 0;
  int32_t renderHeight GUARDED_BY(stateMutex) = 0;

  // Cleared once to end the process: release store, acquire load.
  std::atomic<bool> running{true};

  // Held by the command reader around each command; main sets the flag under
  // it before destroying the engine, so no command is mid-call then.
  threads::Mutex commandMutex;
  bool engineClosedToCommands GUARDED_BY(commandMutex) = false;
};

}  // namespace frame_helper
