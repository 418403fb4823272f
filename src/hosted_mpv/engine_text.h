// The engine's own text for an error status, as snapshots, traces and thrown
// messages quote it.
#pragma once

#include <mpv/client.h>

#include <string>

namespace hosted_mpv {

inline std::string engineText(int status) { return mpv_error_string(status); }

}  // namespace hosted_mpv
