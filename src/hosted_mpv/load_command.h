// The engine's "loadfile" command and the texts of its per-file options.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "loadfile.h"

namespace hosted_mpv {

using LoadOptions = std::vector<std::pair<std::string, std::string>>;

// Replaces every `from` in `text` by `to`, left to right, never searching the
// inserted text again; does nothing for an empty `from`.
void replaceAllInPlace(std::string& text, const std::string& from, const std::string& to);

// A header value as the engine's header list needs it: commas escaped with a
// backslash.
std::string escapeHeaderValue(std::string value);

// The "start" option's text: a double as a default text stream writes it.
std::string formatStartOption(double seconds);

// Queues "loadfile" url "replace" -1 {options} with `replyId` (with
// `withIndex`). An engine whose "loadfile" has no index argument refuses that
// form with MPV_ERROR_INVALID_PARAMETER at once; then the form without the
// index, "loadfile" url "replace" {options}, is queued with the same reply id
// and its status is the result. Without `withIndex` only that form is queued.
int queueLoadfileCommand(mpv_handle* mpv, uint64_t replyId, const std::string& url,
                         const LoadOptions& options, bool withIndex);

}  // namespace hosted_mpv
