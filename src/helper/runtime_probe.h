// --runtime-probe: checks on the main thread, one step after the other,
// whether this machine can run the helper (engine, headless OpenGL context,
// engine render context on it, a frame ring in shared memory), undoes
// everything and writes one verdict line. Starts no thread, reads nothing.
#pragma once

#include <string>

namespace frame_helper {

// Runs the probe and returns the exit status: 0 usable, 1 unusable.
int runRuntimeProbe();

// Writes the unusable verdict; "detail" is left out when `detail` is empty.
void runtimeProbeFailure(const std::string& reason, const std::string& detail);

// "major.minor" of a client API version value (major in the upper 16 bits).
std::string clientApiVersionText(unsigned long value);

// The loaded engine's client API version as "major.minor".
std::string libmpvClientApiVersion();

}  // namespace frame_helper
