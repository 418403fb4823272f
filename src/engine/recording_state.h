// A recording of the stream as a snapshot shows it.
#pragma once

#include <string>

namespace engine {

struct RecordingState {
  bool active = false;
  std::string targetPath;  // the last target asked for, kept after it ends
  std::string startedAt;   // UTC time stamp while active, else empty
  std::string error;       // why the last recording failed or ended, else empty
};

}  // namespace engine
