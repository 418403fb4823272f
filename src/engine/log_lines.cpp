#include "log_lines.h"

#include "playback_rules.h"

namespace engine {

LogLineKind logLineKind(std::string_view level, std::string_view prefix) {
  if (isFailureLevel(level)) {
    return prefix == "recorder" ? LogLineKind::recorderFailure : LogLineKind::failure;
  }
  return level == "warn" ? LogLineKind::warning : LogLineKind::other;
}

std::optional<LogLine> readLogLine(const mpv_event_log_message* message) {
  if (message == nullptr || message->level == nullptr || message->text == nullptr) {
    return std::nullopt;
  }
  const char* prefix = message->prefix ? message->prefix : "mpv";
  return LogLine{message->level, prefix, message->text, logLineKind(message->level, prefix)};
}

}  // namespace engine
