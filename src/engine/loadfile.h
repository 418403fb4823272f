// The engine's "loadfile" with per-file options: client API 2.3 added an
// index argument before the options, and older engines refuse that form.
#pragma once

#include <mpv/client.h>

namespace engine {

// Whether this engine's "loadfile" takes the index argument.
inline bool loadfileTakesIndex() { return mpv_client_api_version() >= MPV_MAKE_VERSION(2, 3); }

// Issues "loadfile" through `issue(withIndex)` (which returns the engine's
// status): the form with the index first when `withIndex`, and the form
// without it when that is not tried or the engine refuses it with
// MPV_ERROR_INVALID_PARAMETER. The last status tried is the result.
template <typename Issue>
int loadfileWithFallback(bool withIndex, Issue issue) {
  if (withIndex) {
    const int result = issue(true);
    if (result != MPV_ERROR_INVALID_PARAMETER) return result;
  }
  return issue(false);
}

}  // namespace engine
