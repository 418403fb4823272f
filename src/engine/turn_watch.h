// The software path's rotation, the same in both players. libmpv 0.35's
// software renderer aborts the process on a frame turned by a quarter, so
// the engine is told not to rotate (video-rotate=no) and the picture is
// turned in its filter chain instead (turn_filter.h).
//
// A client handle of its own carries the hooks that choose each file's turn:
// on_load takes over a load's own video-rotate (it would reach the renderer),
// on_preloaded sets the filter before the file's first frame is decoded; the
// rotation of the video track is observed, so that another track chosen while
// playing is turned anew. A thread of the watch's own serves them: a hook
// holds the engine until it is answered, so it must not wait for a player
// thread that may itself be waiting for the engine.
//
// Threads: startTurnWatch and stopTurnWatch on the owner's thread (the
// player's set-up and teardown); the fields between them are the watch
// thread's.
#pragma once

#include <mpv/client.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace engine {

struct TurnWatch {
  mpv_handle* client = nullptr;
  std::thread thread;
  std::atomic<bool> stopping{false};
  int64_t callerRotation = 0;  // video-rotate as set before; -1 for "no"
  int64_t fileRotation = 0;    // the same, or the current load's own
  int turnDegrees = 0;         // the turn the filter chain was last given
};

// Takes rotation over from the engine `mpv` (initialized, nothing loaded
// yet): keeps its video-rotate (the default or the caller's option) for the
// turn, sets it to "no", opens the watch's client with its hooks and starts
// its thread. On failure false, with the reason in `error`, and nothing left
// running.
bool startTurnWatch(TurnWatch& watch, mpv_handle* mpv, std::string& error);

// Stops the thread and destroys the client (which answers a hook it held).
// Does nothing for a watch never started; safe to call twice. Before the
// engine itself is destroyed.
void stopTurnWatch(TurnWatch& watch);

}  // namespace engine
