// Creating and configuring the engine: fixed options, the session options of
// the "mpv-options" preamble, initialisation, log messages, initial volume and
// the observed properties. Main thread, before any other thread exists.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "command.h"
#include "helper_args.h"
#include "helper_state.h"

namespace frame_helper {

// One engine option of the preamble.
struct SessionOption {
  std::string name;
  std::string value;
};

// The preamble's options in application order: entries sorted byte-wise by
// key, each value split at its first "="; entries without a name or a value
// are dropped.
std::vector<SessionOption> sessionOptionsFromPreamble(const Command& preamble);

// Creates state.mpv and runs every set-up step. `input` is read for the
// preamble when args.mpvOptionsStdin is set. Names of the accepted preamble
// options go into `appliedSessionOptions`; a rejected one becomes a "log"
// line. The preamble's stall-timeout sets state.stallTimeoutSeconds instead;
// unless an accepted option decides the deinterlacing, the default filter is
// set (deinterlacing.h). With args.allowedSchemes the URL policy is read (a
// malformed list fails) and the engine's guard started after the preamble
// (url_guard.h). On failure returns false with the fatal text in `error` and
// leaves no engine behind.
bool setupPlayer(HelperState& state, const HelperArgs& args, std::FILE* input,
                 std::set<std::string>& appliedSessionOptions, std::string& error)
    REQUIRES(state.mainThread);

}  // namespace frame_helper
