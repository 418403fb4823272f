// The engine's "loadfile" with per-file options: client API 2.3 added an
// index argument before the options, and older engines refuse that form.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

// A load's per-file options, in the order given.
using LoadOptions = std::vector<std::pair<std::string, std::string>>;

// How a player hands the engine a load (player_profile.h).
enum class LoadfileCall {
  // The caller waits for the engine's verdict; the options go as the
  // engine's option text (loadOptionsText), none at all without options.
  waited,
  // Queued with a reply id (queueLoadfile); the verdict comes as its reply.
  queued,
};

// Options as the engine's text takes them: name=%<byte length>%value joined
// by commas.
std::string loadOptionsText(const LoadOptions& options);

// Queues "loadfile" url "replace" -1 {options} with `replyId` (with
// `withIndex`). An engine whose "loadfile" has no index argument refuses that
// form with MPV_ERROR_INVALID_PARAMETER at once; then the form without the
// index, "loadfile" url "replace" {options}, is queued with the same reply id
// and its status is the result. Without `withIndex` only that form is queued.
// Waits for nothing: may be called under a player's lock.
int queueLoadfile(mpv_handle* mpv, uint64_t replyId, const std::string& url,
                  const LoadOptions& options, bool withIndex);

// "loadfile" url "replace" in the way `call` says, with the index argument
// when this engine takes it (loadfileTakesIndex). `replyId` is that of a
// queued call. The engine's status: for a waited call its verdict on the
// load, for a queued one whether it was queued.
int sendLoadfile(mpv_handle* mpv, LoadfileCall call, uint64_t replyId, const std::string& url,
                 const LoadOptions& options);

}  // namespace engine
