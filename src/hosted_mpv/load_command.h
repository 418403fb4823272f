// The texts of the engine's per-file load options.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "loadfile.h"

namespace hosted_mpv {

using engine::LoadOptions;

// Replaces every `from` in `text` by `to`, left to right, never searching the
// inserted text again; does nothing for an empty `from`.
void replaceAllInPlace(std::string& text, const std::string& from, const std::string& to);

// A header value as the engine's header list needs it: commas escaped with a
// backslash.
std::string escapeHeaderValue(std::string value);

// The "start" option's text: a double as a default text stream writes it.
std::string formatStartOption(double seconds);

}  // namespace hosted_mpv
