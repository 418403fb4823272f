// Everything in which the two players differ, in one record per player: the
// helper's (helper_profile.h) and the hosted module's (session_profile.h).
// The shared code takes a player's profile, or the part of it it needs, and
// never asks which player it runs in.
#pragma once

#include "loadfile.h"
#include "playback_rules.h"
#include "recording_machine.h"
#include "snapshot_writer.h"
#include "tracks.h"

namespace engine {

struct PlayerProfile {
  StatusRules status;        // playback_rules.h
  RecordingRules recording;  // recording_machine.h
  ListReading lists;         // tracks.h
  SnapshotRules snapshot;    // snapshot_writer.h
  LoadfileCall loadfile;     // loadfile.h
};

}  // namespace engine
