// Interlaced video is deinterlaced by default in both players.
//
// The engine's own "deinterlace" option (0.35) runs its deinterlacer on
// every frame, progressive ones included, at twice their rate. The default
// filter below leaves frames the decoder flags as progressive alone (passed
// on by reference, no copy, no extra frames) and turns flagged ones into
// one picture per field with a motion-adaptive deinterlacer (bwdif): 50
// pictures a second from 25i, as broadcast players show them.
#pragma once

#include <mpv/client.h>

#include <string_view>

namespace engine {

inline constexpr const char* kDefaultVideoFilter = "bwdif=mode=send_field:deint=interlaced";

// A caller's option that decides the deinterlacing itself: "deinterlace", or
// the engine's video filter list "vf", which the default would replace. (The
// list's "vf-add" forms are command-line only: the engine refuses them here.)
bool decidesDeinterlacing(std::string_view optionName);

// Sets the default filter unless `callerDecides`. After the caller's own
// options, before mpv_initialize.
void setDefaultDeinterlacing(mpv_handle* mpv, bool callerDecides);

}  // namespace engine
