// Per-load engine options chosen by the kind of source a URL names.
//
// A live transport stream (MPEG-TS pushed over UDP, RTP, SRT, RIST or TCP)
// has no end and no seeking, and its encoder may restart: the timestamps
// then start over. The engine's default takes that jump back as a wait of
// the old length (about 8 s of a frozen picture, measured); with its
// demuxer's timestamps linearised it plays on within 2 s of the new data.
// Other sources keep the engine's defaults: a file or a progressive HTTP
// download has one timeline that seeks, and HLS plays a discontinuity
// through on its own (docs/playback-rules.md, "Encoder restarts").
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace engine {

// True for a URL of a live transport: udp://, rtp://, srt://, rist://,
// tcp:// in any case.
bool isLiveTransport(std::string_view url);

// The options the kind of `url` wants, name and value, for the load's own
// per-file options; a caller's option of the same name replaces one.
std::vector<std::pair<std::string, std::string>> sourceKindOptions(std::string_view url);

}  // namespace engine
