// Fuzzes the helper's readers of the engine's "track-list", "chapter-list",
// "aid" and "sid" values with random mpv_node trees and texts.
//
// Properties: no crash and no read outside the trees on any input; a track
// is taken exactly when the entry is a map whose last string "type" is the
// one asked for and whose last integer "id" is 0 or more, with the last
// title, language and flags of the right formats; chapters keep their order,
// have finite times, at most 256 of them, titles cut to at most 256 bytes
// without splitting a UTF-8 character; a selection reads exactly the whole
// decimal integers of int64 range.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "json_check.h"
#include "mpv_node_builder.h"
#include "track_parsing.h"

using frame_helper::ChapterInfo;
using frame_helper::TrackInfo;

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

bool isMap(const mpv_node& node) {
  return node.format == MPV_FORMAT_NODE_MAP && node.u.list != nullptr;
}

// The value of the last `key` in `map` whose format is `format`.
const mpv_node* lastOf(const mpv_node& map, const char* key, mpv_format format) {
  const mpv_node* found = nullptr;
  for (int i = 0; i < map.u.list->num; ++i) {
    const mpv_node& value = map.u.list->values[i];
    if (std::strcmp(map.u.list->keys[i], key) == 0 && value.format == format) found = &value;
  }
  return found;
}

std::optional<TrackInfo> expectedTrack(const mpv_node& node, const char* type) {
  if (!isMap(node)) return std::nullopt;
  const mpv_node* typeValue = lastOf(node, "type", MPV_FORMAT_STRING);
  const mpv_node* id = lastOf(node, "id", MPV_FORMAT_INT64);
  if (typeValue == nullptr || std::strcmp(typeValue->u.string, type) != 0 || id == nullptr ||
      id->u.int64 < 0) {
    return std::nullopt;
  }
  TrackInfo track;
  track.id = id->u.int64;
  if (const mpv_node* v = lastOf(node, "title", MPV_FORMAT_STRING)) track.title = v->u.string;
  if (const mpv_node* v = lastOf(node, "lang", MPV_FORMAT_STRING)) track.language = v->u.string;
  if (const mpv_node* v = lastOf(node, "default", MPV_FORMAT_FLAG)) track.defaultTrack = v->u.flag;
  if (const mpv_node* v = lastOf(node, "forced", MPV_FORMAT_FLAG)) track.forced = v->u.flag;
  return track;
}

void checkTracks(const mpv_node& tree) {
  const bool isArray = tree.format == MPV_FORMAT_NODE_ARRAY && tree.u.list != nullptr;
  const int count = isArray ? tree.u.list->num : 1;
  for (const char* type : {"audio", "sub"}) {
    std::vector<TrackInfo> tracks;
    size_t expectedCount = 0;
    for (int i = 0; i < count; ++i) {
      const mpv_node& entry = isArray ? tree.u.list->values[i] : tree;
      frame_helper::parseTrackNode(entry, type, tracks);
      const std::optional<TrackInfo> expected = expectedTrack(entry, type);
      if (!expected) {
        check(tracks.size() == expectedCount, "took a track that does not qualify");
        continue;
      }
      check(tracks.size() == ++expectedCount, "dropped a track that qualifies");
      const TrackInfo& got = tracks.back();
      check(got.id == expected->id && got.title == expected->title &&
                got.language == expected->language && got.defaultTrack == expected->defaultTrack &&
                got.forced == expected->forced,
            "track fields are not the entry's last ones");
    }
  }
}

void checkChapters(const mpv_node& tree) {
  const std::vector<ChapterInfo> chapters = frame_helper::parseChapterList(tree);
  check(chapters.size() <= frame_helper::kMaxChapters, "more than 256 chapters");
  if (tree.format != MPV_FORMAT_NODE_ARRAY) {
    check(chapters.empty(), "chapters from a node that is not an array");
    return;
  }
  size_t next = 0;
  for (int i = 0; i < tree.u.list->num; ++i) {
    const mpv_node& entry = tree.u.list->values[i];
    if (!isMap(entry) || entry.u.list->num == 0) continue;
    // The last "time" of a usable format decides.
    const mpv_node* time = nullptr;
    for (int k = 0; k < entry.u.list->num; ++k) {
      const mpv_node& value = entry.u.list->values[k];
      if (std::strcmp(entry.u.list->keys[k], "time") == 0 &&
          (value.format == MPV_FORMAT_INT64 || value.format == MPV_FORMAT_DOUBLE)) {
        time = &value;
      }
    }
    if (time == nullptr || (time->format == MPV_FORMAT_DOUBLE && !std::isfinite(time->u.double_))) {
      continue;
    }
    if (next == chapters.size()) {
      check(next == frame_helper::kMaxChapters, "dropped a usable chapter");
      break;
    }
    const ChapterInfo& got = chapters[next++];
    const double seconds =
        time->format == MPV_FORMAT_INT64 ? static_cast<double>(time->u.int64) : time->u.double_;
    check(got.timeSeconds == seconds && std::isfinite(got.timeSeconds), "chapter time differs");
    const mpv_node* title = lastOf(entry, "title", MPV_FORMAT_STRING);
    const std::string full = title ? title->u.string : "";
    check(full.compare(0, got.title.size(), got.title) == 0, "chapter title is not a prefix");
    if (full.size() <= frame_helper::kMaxChapterTitleBytes) {
      check(got.title == full, "short chapter title changed");
    } else {
      check(got.title.size() <= frame_helper::kMaxChapterTitleBytes, "chapter title too long");
      const auto atCut = static_cast<unsigned char>(full[got.title.size()]);
      check(got.title.empty() || (atCut & 0xC0) != 0x80, "chapter title splits a character");
      if (fuzz_check::isValidUtf8(full)) {
        check(got.title.size() + 3 >= frame_helper::kMaxChapterTitleBytes,
              "cut more than one character");
      }
    }
  }
  check(next == chapters.size(), "chapters that no entry gives");
}

// strtoll's idea of a whole decimal int64: blanks, a sign, digits, the end.
std::optional<int64_t> expectedSelection(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  __int128 value = 0;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > (__int128{1} << 64)) value = __int128{1} << 64;  // saturate, stays out of range
  }
  if (negative) value = -value;
  if (value < INT64_MIN || value > INT64_MAX) return std::nullopt;
  return static_cast<int64_t>(value);
}

void checkSelection(FuzzedDataProvider& data) {
  int64_t out = 12345;
  check(!frame_helper::parseTrackSelection(nullptr, out) && out == 12345, "read a null text");
  std::string text = data.ConsumeRandomLengthString(32);
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.erase(nul);
  const std::optional<int64_t> expected = expectedSelection(text);
  const bool read = frame_helper::parseTrackSelection(text.c_str(), out);
  check(read == expected.has_value(), "selection read disagrees with the integer rule");
  if (read) check(out == *expected, "selection value differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  fuzz_check::MpvNodeBuilder builder(data);
  checkSelection(data);
  mpv_node tree = data.ConsumeBool() ? builder.arrayOfMaps(12) : builder.node();
  checkTracks(tree);
  checkChapters(tree);

  // The same entries over and over, past the chapter limit.
  if (tree.format == MPV_FORMAT_NODE_ARRAY && tree.u.list->num > 0 && data.ConsumeBool()) {
    std::vector<mpv_node> many;
    while (many.size() < 300) {
      for (int i = 0; i < tree.u.list->num; ++i) many.push_back(tree.u.list->values[i]);
    }
    mpv_node_list list{static_cast<int>(many.size()), many.data(), nullptr};
    mpv_node big{};
    big.format = MPV_FORMAT_NODE_ARRAY;
    big.u.list = &list;
    checkChapters(big);
  }
  return 0;
}
