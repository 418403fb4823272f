// A recording of the stream as a snapshot shows it, and the ways both
// players change it.
#pragma once

#include <string>
#include <string_view>

namespace engine {

struct RecordingState {
  bool active = false;
  std::string targetPath;  // the last target asked for, kept after it ends
  std::string startedAt;   // UTC time stamp while active, else empty
  std::string error;       // why the last recording failed or ended, else empty
};

// Running since `startedAt`; `error` says why it is not as asked ("" when it is).
inline void showRecordingRunning(RecordingState& recording, std::string_view startedAt,
                                 std::string_view error) {
  recording.active = true;
  recording.startedAt = startedAt;
  recording.error = error;
}

// Stopped (no start time); `error` says why, "" for a stop that was asked.
inline void showRecordingStopped(RecordingState& recording, std::string_view error) {
  recording.active = false;
  recording.startedAt.clear();
  recording.error = error;
}

// A recorder log line as a recording's error: without its line ends.
inline std::string_view recorderFailureText(std::string_view line) {
  while (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  return line;
}

}  // namespace engine
