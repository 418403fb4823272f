// The helper's output protocol: every line it writes on standard output, one
// builder per kind of line. Each returns the line's text without its line
// feed; emitLine (json_writer.h) is the one writer of all of them.
//
// Lines while playing: "hello" once started, "shm" for each new frame ring,
// "snapshot" for the playback state, "log" for the engine's warnings and
// errors (and for a session option the engine refused), "fatal" when the
// helper cannot go on, "bye" as the last line. The runtime probe writes one
// verdict line instead, with no "event" key.
//
// Threads: the builders read only their arguments; snapshotBodyLocked reads
// the state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "helper_state.h"

namespace frame_helper {

// {"event":"hello","pid":…,"protocolVersion":1}
std::string helloLine(int64_t pid);

// {"event":"shm","name":…,"width":…,"height":…,"generation":…}, and
// "layout":"rgba-top-down" last for a ring of that layout (the default
// layout's line is unchanged, so older clients read it as before).
std::string shmLine(std::string_view name, int32_t width, int32_t height, uint32_t generation,
                    frame_ring::PixelLayout layout = frame_ring::PixelLayout::bgraBottomUp);

// {"event":"fatal","error":…}
std::string fatalLine(std::string_view error);

// The line of a render thread's report: "shm" for a new ring, "fatal" for
// the end of rendering.
std::string renderReportLine(const RenderReport& report);

// {"event":"bye"}
std::string byeLine();

// {"event":"log","level":…,"prefix":…,"text":…}
std::string logLine(std::string_view level, std::string_view prefix, std::string_view text);

// The "log" warning for a preamble option the engine refused, with the
// engine's error text.
std::string rejectedSessionOptionLine(std::string_view name, std::string_view engineError);

// The whole "snapshot" line for the current state: "event" first, then the
// snapshot's keys (snapshot_writer.h).
std::string snapshotBodyLocked(const HelperState& state) REQUIRES(state.stateMutex);

// The runtime probe's verdicts: usable, with the engine's client API version
// and the headless GL API; or unusable with a reason, and "detail" unless
// `detail` is empty.
std::string probeUsableLine(std::string_view libmpvVersion, std::string_view renderApi);
std::string probeUnusableLine(std::string_view reason, std::string_view detail);

}  // namespace frame_helper
