#include "trace.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "session.h"

namespace hosted_mpv {

std::string normalizeEnvValue(const char* value) {
  std::string text = value ? value : "";
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool isHostedMpvTraceEnabled() {
  const char* value = std::getenv("ORVANEL_TRACE_HOSTED_MPV");
  return value && value[0] != '\0' && !(value[0] == '0' && value[1] == '\0');
}

bool isSoftwareRendererRequested() {
  return normalizeEnvValue(std::getenv("ORVANEL_HOSTED_MPV_RENDERER")) == "sw";
}

bool isOpenGLRendererRequested() {
  return normalizeEnvValue(std::getenv("ORVANEL_HOSTED_MPV_RENDERER")) == "gl";
}

void traceSession(const Session* session, const std::string& message) {
  if (session ? !session->traceEnabled : !isHostedMpvTraceEnabled()) return;
  std::fprintf(stderr, "[hosted-mpv][%s][trace] %s\n", session ? session->id.c_str() : "unknown",
               message.c_str());
}

}  // namespace hosted_mpv
