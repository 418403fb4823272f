// A playback record of a player's shape for the tests of the shared playback
// rules, and the LoadState the rules change in it. Its status compares with
// the text a snapshot shows for it, so a case reads as the snapshot would.
#pragma once

#include <string>

#include "playback_rules.h"
#include "status_text.h"

struct PlaybackRecord {
  engine::PlaybackStatus status = engine::PlaybackStatus::idle;
  std::string error;
  bool errorFromEngine = false;
  bool fileLoaded = false;
  bool paused = false;
  engine::StreamWatch watch;
  bool loadPending = false;
  engine::LiveSource source;
};

inline engine::LoadState loadStateOf(PlaybackRecord& r) {
  return {r.status, r.error, r.errorFromEngine, r.fileLoaded, r.paused, r.watch, r.loadPending,
          r.source};
}
