#include "track_parsing.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace frame_helper {

void parseTrackNode(const mpv_node& node, std::string_view type, std::vector<TrackInfo>& tracks) {
  if (node.format != MPV_FORMAT_NODE_MAP || node.u.list == nullptr) return;
  const mpv_node_list& map = *node.u.list;
  TrackInfo track;
  bool typeMatches = false;
  for (int i = 0; i < map.num; ++i) {
    const char* key = map.keys ? map.keys[i] : nullptr;
    if (key == nullptr) continue;
    const mpv_node& value = map.values[i];
    if (value.format == MPV_FORMAT_STRING && value.u.string != nullptr) {
      if (std::strcmp(key, "type") == 0) {
        typeMatches = type == value.u.string;
      } else if (std::strcmp(key, "title") == 0) {
        track.title = value.u.string;
      } else if (std::strcmp(key, "lang") == 0) {
        track.language = value.u.string;
      }
    } else if (value.format == MPV_FORMAT_INT64 && std::strcmp(key, "id") == 0) {
      track.id = value.u.int64;
    } else if (value.format == MPV_FORMAT_FLAG) {
      if (std::strcmp(key, "default") == 0) {
        track.defaultTrack = value.u.flag != 0;
      } else if (std::strcmp(key, "forced") == 0) {
        track.forced = value.u.flag != 0;
      }
    }
  }
  if (typeMatches && track.id >= 0) tracks.push_back(std::move(track));
}

bool parseTrackSelection(const char* text, int64_t& out) {
  if (text == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE) return false;
  out = value;
  return true;
}

std::string truncateUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t length = maxBytes;
  // The byte at the cut continues a character: drop that character's head too.
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  return std::string(text.substr(0, length));
}

std::vector<ChapterInfo> parseChapterList(const mpv_node& node) {
  std::vector<ChapterInfo> chapters;
  if (node.format != MPV_FORMAT_NODE_ARRAY || node.u.list == nullptr) return chapters;
  const mpv_node_list& array = *node.u.list;
  for (int i = 0; i < array.num; ++i) {
    if (chapters.size() >= kMaxChapters) break;
    const mpv_node& element = array.values[i];
    if (element.format != MPV_FORMAT_NODE_MAP || element.u.list == nullptr ||
        element.u.list->num <= 0) {
      continue;
    }
    const mpv_node_list& map = *element.u.list;
    ChapterInfo chapter;
    bool timeUsable = false;
    for (int k = 0; k < map.num; ++k) {
      const char* key = map.keys ? map.keys[k] : nullptr;
      if (key == nullptr) continue;
      const mpv_node& value = map.values[k];
      if (std::strcmp(key, "time") == 0) {
        if (value.format == MPV_FORMAT_INT64) {
          chapter.timeSeconds = static_cast<double>(value.u.int64);
          timeUsable = true;
        } else if (value.format == MPV_FORMAT_DOUBLE) {
          chapter.timeSeconds = value.u.double_;
          timeUsable = std::isfinite(value.u.double_);
        }
      } else if (std::strcmp(key, "title") == 0 && value.format == MPV_FORMAT_STRING &&
                 value.u.string != nullptr) {
        chapter.title = truncateUtf8(value.u.string, kMaxChapterTitleBytes);
      }
    }
    if (timeUsable) chapters.push_back(std::move(chapter));
  }
  return chapters;
}

}  // namespace frame_helper
