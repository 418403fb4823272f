// Failures that the tests ask for where the platform offers no natural way to
// provoke them. ORVANEL_TEST_FAIL holds a comma-separated list of:
//   render-context  an OpenGL context has no context object, so the engine's
//                   OpenGL render context cannot be made on it;
//   display-link    a display link cannot be started.
// Read at every call; unset in normal use, where nothing here has an effect.
#pragma once

namespace hosted_mpv {

// True when ORVANEL_TEST_FAIL names `what`. Any thread.
bool testFailureRequested(const char* what);

}  // namespace hosted_mpv
