// The engine's audio and subtitle tracks and its chapters, as both players
// keep them, and their readers from "track-list" and "chapter-list" values.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string>
#include <vector>

#include "node_readers.h"

namespace engine {

constexpr size_t kMaxChapters = 256;
constexpr size_t kMaxChapterTitleBytes = 256;

// One audio or subtitle track of the engine's "track-list".
struct Track {
  int64_t id = -1;  // never negative in a stored record
  std::string title;
  std::string language;
  bool defaultTrack = false;
  bool forced = false;
  bool selected = false;  // read in lenient reading only; exact leaves it false
};

// One entry of the engine's "chapter-list".
struct Chapter {
  double timeSeconds = 0;  // always finite
  std::string title;       // at most kMaxChapterTitleBytes, cut on a character boundary
};

// The tracks and chapters of the file that plays, as a snapshot shows them.
struct MediaLists {
  std::vector<Track> audioTracks;
  int64_t selectedAudioTrackId = -1;  // -1: none
  std::vector<Track> subtitleTracks;
  int64_t selectedSubtitleTrackId = -1;
  std::vector<Chapter> chapters;
};

// How a player reads track and chapter lists (its profile's, player_profile.h).
struct ListReading {
  NodeReading nodes = NodeReading::exact;
  IntegerOverflow idOverflow = IntegerOverflow::reject;  // ids given as texts
};

// One "track-list" element: true, with `track` filled, when it is a map whose
// "type" is `type` and whose "id" is 0 or more.
bool readTrack(const mpv_node& element, const char* type, const ListReading& reading, Track& track);

// The tracks of `type` ("audio", "sub") of a "track-list" array, as readTrack
// reads each element. With `selectedId`, it is set
// to the id of the last track marked selected (-1 for none); only lenient
// reading reads that mark. Empty for anything but an array.
std::vector<Track> readTracks(const mpv_node& list, const char* type, const ListReading& reading,
                              int64_t* selectedId = nullptr);

// The chapters of a "chapter-list" array: maps with a finite "time" (integer
// or double), at most kMaxChapters. Empty for anything but an array.
std::vector<Chapter> readChapters(const mpv_node& list, const ListReading& reading);

// Stores `id` as the selected id (-1 when negative) and marks the track with
// that id as the only selected one.
void selectTrack(std::vector<Track>& tracks, int64_t& selectedId, int64_t id);

}  // namespace engine
