// The helper's state record: one per process, owned by main and passed to
// every thread that needs it.
//
// Threads: main (start-up, engine event loop, shutdown), render (the
// pipeline's run loop) and command reader (standard input).
// Lock order: commandMutex before stateMutex before the pipeline's mutex
// before the output lock of emitLine. The render thread never takes stateMutex.
#pragma once

#include <mpv/client.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "buffering.h"
#include "recording_machine.h"
#include "recording_state.h"
#include "render_pipeline.h"
#include "stream_end.h"
#include "stream_stats.h"
#include "tracks.h"

namespace frame_helper {

struct HelperState {
  // Set before any thread but main runs, then read-only.
  mpv_handle* mpv = nullptr;
  // The bound on a wait for data without progress (0: none), from the
  // preamble's stall-timeout.
  double stallTimeoutSeconds = engine::kDefaultStallTimeoutSeconds;

  // The render thread's object; its own comments say who touches what.
  RenderPipeline pipeline;

  // Guards every member from status to renderHeight.
  std::mutex stateMutex;
  std::string status = "idle";
  double positionSeconds = 0;
  double durationSeconds = -1;
  double volume = 1.0;
  int64_t videoWidth = 0;   // as displayed: turned by rotationDegrees
  int64_t videoHeight = 0;
  int64_t engineVideoWidth = 0;  // the engine's "dwidth" / "dheight", before the renderer's turn
  int64_t engineVideoHeight = 0;
  int64_t rotationDegrees = 0;  // the engine's "video-out-params/rotate", clockwise
  engine::StreamStats stats;
  std::string streamUrl;
  engine::MediaLists media;
  double playbackSpeed = 1.0;
  std::string aspectOverride = "no";
  engine::RecordingState recording;
  // The record command's requests and a failed target the engine still
  // holds, which clearFailedRecording clears (recording_machine.h).
  engine::RecordingMachine recordingMachine;
  uint64_t recordingRequestCount = 0;  // the ids of the record command's requests
  engine::Buffering buffering;
  std::string error;
  bool errorFromEngine = false;
  bool paused = false;
  bool fileLoaded = false;
  engine::StreamWatch streamWatch;  // what the current file's stream went through
  bool snapshotDirty = true;
  std::string lastSnapshotStatus;
  bool lastSnapshotBuffering = false;
  int64_t lastSnapshotNs = 0;
  int32_t renderWidth = 0;
  int32_t renderHeight = 0;

  // Cleared once to end the process: release store, acquire load.
  std::atomic<bool> running{true};

  // Held by the command reader around each command; main sets the flag under
  // it before destroying the engine, so no command is mid-call then.
  std::mutex commandMutex;
  bool engineClosedToCommands = false;
};

}  // namespace frame_helper
