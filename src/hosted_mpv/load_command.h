// The engine's "loadfile" command and the texts of its per-file options.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hosted_mpv {

using LoadOptions = std::vector<std::pair<std::string, std::string>>;

// Replaces every `from` in `text` by `to`, left to right, never searching the
// inserted text again; does nothing for an empty `from`.
void replaceAllInPlace(std::string& text, const std::string& from, const std::string& to);

// A header value as the engine's header list needs it: backslashes doubled,
// then commas escaped with a backslash.
std::string escapeHeaderValue(std::string value);

// The "start" option's text: a double as a default text stream writes it.
std::string formatStartOption(double seconds);

// Queues "loadfile" url "replace" -1 {options} with `replyId`. Engines whose
// "loadfile" has no index argument (libmpv before client API 2.3) refuse that
// form with MPV_ERROR_INVALID_PARAMETER at once; then the form without the
// index is queued with the same reply id, and its status is the result.
int queueLoadfileCommand(mpv_handle* mpv, uint64_t replyId, const std::string& url,
                         const LoadOptions& options);

}  // namespace hosted_mpv
