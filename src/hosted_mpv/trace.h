// Environment switches and the trace output of the hosted module.
#pragma once

#include <string>

namespace hosted_mpv {

struct Session;

// Empty for an unset variable, else the value with every byte lowercased.
std::string normalizeEnvValue(const char* value);

// ORVANEL_TRACE_HOSTED_MPV, read at every call: off when unset, empty or "0".
// Reads the environment: JavaScript thread only (sessions keep the value
// they were created with in Session::traceEnabled).
bool isHostedMpvTraceEnabled();

// ORVANEL_HOSTED_MPV_RENDERER is "sw" in any letter case.
bool isSoftwareRendererRequested();

// ORVANEL_HOSTED_MPV_RENDERER is "gl" in any letter case: OpenGL even on a
// software rasteriser (the fallbacks for failures still apply).
bool isOpenGLRendererRequested();

// Writes "[hosted-mpv][<id>][trace] <message>" to standard error when the
// session was created with tracing on; the id is "unknown" without a session,
// which reads the environment (JavaScript thread only). Any thread with a
// session.
void traceSession(const Session* session, const std::string& message);

}  // namespace hosted_mpv
