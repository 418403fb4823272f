// Which of the engine's log lines a player acts on. Both players ask the
// engine for "warn" and above; this one filter says what each line is to
// them. Pure functions; no shared state.
#pragma once

#include <mpv/client.h>

#include <optional>
#include <string_view>

namespace engine {

enum class LogLineKind {
  other,            // below "warn": no player acts on it
  warning,          // "warn": kept for a cut stream, never a failure
  failure,          // "error" or "fatal": may name the failure of a load
  recorderFailure,  // a failure of the recorder: the recording failed too
};

// A log message with its parts checked: `prefix` is the engine's module,
// "mpv" where it names none.
struct LogLine {
  const char* level;
  const char* prefix;
  const char* text;
  LogLineKind kind;
};

LogLineKind logLineKind(std::string_view level, std::string_view prefix);

inline bool isFailure(LogLineKind kind) {
  return kind == LogLineKind::failure || kind == LogLineKind::recorderFailure;
}

// Nothing for a message without a level or a text.
std::optional<LogLine> readLogLine(const mpv_event_log_message* message);

}  // namespace engine
