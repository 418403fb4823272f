// Reading the engine's "track-list", "chapter-list", "aid" and "sid" values
// into the helper's playback records. Pure functions; no shared state.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "helper_state.h"

namespace frame_helper {

constexpr size_t kMaxChapters = 256;
constexpr size_t kMaxChapterTitleBytes = 256;

// Appends one "track-list" entry to `tracks` when it is a map whose last
// "type" equals `type` and whose "id" is 0 or more.
void parseTrackNode(const mpv_node& node, std::string_view type, std::vector<TrackInfo>& tracks);

// Reads an "aid" or "sid" value: a whole base-10 integer (leading blanks and a
// sign allowed, nothing after it). False for a null text, "no", "auto", "3x".
bool parseTrackSelection(const char* text, int64_t& out);

// The chapters of a "chapter-list" node: only an array of non-empty maps
// yields entries, each with a usable (finite) time; at most kMaxChapters.
std::vector<ChapterInfo> parseChapterList(const mpv_node& node);

// Cuts `text` to at most `maxBytes` bytes without splitting a UTF-8 character.
std::string truncateUtf8(std::string_view text, size_t maxBytes);

}  // namespace frame_helper
