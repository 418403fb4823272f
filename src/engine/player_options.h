// The engine options both players set before initialising an engine.
#pragma once

#include <mpv/client.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace engine {

// An embedded player: frames through the render API ("vo=libmpv"), idle
// between files, no input bindings, no on-screen controller, no youtube-dl.
// Each file stays open at its end, without the engine pausing itself: that
// pause would carry over and bring the next load up paused, so a pause is
// only ever the caller's; the end still shows through "eof-reached".
void setEmbeddedPlayerOptions(mpv_handle* mpv);

// A caller's engine option given as "name=value", split at the first '=';
// none without '=', with an empty name or an empty value.
std::optional<std::pair<std::string, std::string>> splitOptionText(std::string_view text);

}  // namespace engine
