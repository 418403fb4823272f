// A playback record of the helper's shape (text statuses) for the tests of
// the shared playback rules, and the LoadState the rules change in it.
#pragma once

#include <string>

#include "playback_rules.h"

struct TextStatusRecord {
  std::string status = "idle";
  std::string error;
  bool errorFromEngine = false;
  bool fileLoaded = false;
  bool paused = false;
  engine::StreamWatch watch;
  bool loadPending = false;
  engine::LiveSource source;
};

inline engine::LoadState<std::string> loadStateOf(TextStatusRecord& r) {
  return {r.status, r.error, r.errorFromEngine, r.fileLoaded, r.paused, r.watch, r.loadPending,
          r.source};
}
