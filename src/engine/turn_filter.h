// Rotated video for the engine's software renderer. libmpv 0.35's software
// renderer aborts the process on a frame turned by a quarter, so a player
// that renders with it tells the engine not to rotate (video-rotate=no) and
// turns the picture in the engine's video filter chain instead, chosen for
// each file in the on_preloaded hook (before its first frame is decoded).
// The renderer then draws subtitles and the OSD over an upright picture,
// and the engine reports the upright size.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string>

namespace engine {

// The hook in which the filter is chosen: the file's tracks are known and
// none is decoding yet.
inline constexpr char kTurnHook[] = "on_preloaded";

// Degrees clockwise rounded to the nearest quarter turn: 0, 90, 180 or 270.
int quarterTurnDegrees(int64_t degrees);

// The turn the engine would give a stream with rotation metadata
// `streamRotation` under video-rotate `requested` (-1 for "no"), to the
// nearest quarter turn (the engine's OpenGL path tilts other angles).
int effectiveTurn(int64_t streamRotation, int64_t requested);

// The libavfilter graph that turns a picture clockwise by `quarterDegrees`
// (0, 90, 180 or 270); empty for 0.
std::string turnFilterGraph(int quarterDegrees);

// The rotation metadata of the video track the engine plays or is about to
// play: the selected one, else (in the hook, before the selection) the one
// "vid" names, else the first default video track, else the first. 0 when
// there is none. Calls the engine.
int64_t upcomingVideoRotation(mpv_handle* mpv);

// Replaces this module's labelled filter in "vf", there when `previousDegrees`
// is not 0, by the turn for `quarterDegrees` (none for 0), leaving the
// caller's own filters alone.
// Asynchronous (reply id 0), so it never waits for the engine: the requests
// are taken in order, before a hook answer sent after them.
void queueTurnFilter(mpv_handle* mpv, int previousDegrees, int quarterDegrees);

}  // namespace engine
