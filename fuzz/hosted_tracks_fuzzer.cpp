// Fuzzes the hosted module's readers of the engine's "track-list" and
// "chapter-list" values and of node values, with random mpv_node trees.
//
// Properties: no crash and no read outside the trees on any input, and the
// results follow the module's rules, where the first entry of a key counts:
// - a track is taken when the entry is a map whose first "type" reads as the
//   kind and whose first "id" is a whole decimal text, a finite double or an
//   integer, 0 or more; its texts and flags are the node readers' values of
//   the first "title", "lang", "selected", "default" and "forced";
//   selectedId is the last selected track's id, or -1;
// - chapters keep their order, at most 256, with finite times, and titles
//   cut to at most 256 bytes without splitting a UTF-8 character;
// - parseIntegerString takes exactly the whole decimal integers, clamped to
//   the int64 range as strtoll clamps.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "event_thread.h"
#include "json_check.h"
#include "mpv_node_builder.h"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

const mpv_node* firstOf(const mpv_node& map, const char* key) {
  if (map.format != MPV_FORMAT_NODE_MAP || map.u.list == nullptr) return nullptr;
  for (int i = 0; i < map.u.list->num; ++i) {
    if (std::strcmp(map.u.list->keys[i], key) == 0) return &map.u.list->values[i];
  }
  return nullptr;
}

std::string expectedString(const mpv_node* node) {
  if (node == nullptr) return "";
  char text[64];
  switch (node->format) {
    case MPV_FORMAT_STRING:
      return node->u.string;
    case MPV_FORMAT_INT64:
      return std::to_string(node->u.int64);
    case MPV_FORMAT_DOUBLE:
      std::snprintf(text, sizeof text, "%g", node->u.double_);
      return text;
    default:
      return "";
  }
}

bool expectedFlag(const mpv_node* node) {
  if (node == nullptr) return false;
  if (node->format == MPV_FORMAT_FLAG) return node->u.flag != 0;
  if (node->format != MPV_FORMAT_STRING) return false;
  std::string text = node->u.string;
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text == "yes" || text == "true" || text == "1";
}

// strtoll's reading of a whole decimal text, clamped to the int64 range.
std::optional<int64_t> expectedInteger(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  __int128 value = 0;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > (__int128{1} << 64)) value = __int128{1} << 64;
  }
  if (negative) value = -value;
  if (value > INT64_MAX) return INT64_MAX;
  if (value < INT64_MIN) return INT64_MIN;
  return static_cast<int64_t>(value);
}

std::optional<int64_t> expectedId(const mpv_node* id) {
  if (id == nullptr) return std::nullopt;
  switch (id->format) {
    case MPV_FORMAT_INT64:
      return id->u.int64;
    case MPV_FORMAT_STRING:
      return expectedInteger(id->u.string);
    case MPV_FORMAT_DOUBLE:
      if (!std::isfinite(id->u.double_) || std::fabs(id->u.double_) >= 9.2e18) return std::nullopt;
      return static_cast<int64_t>(id->u.double_);
    default:
      return std::nullopt;
  }
}

void checkTracks(const mpv_node& tree) {
  const bool isArray = tree.format == MPV_FORMAT_NODE_ARRAY && tree.u.list != nullptr;
  for (const char* kind : {"audio", "sub"}) {
    std::vector<hosted_mpv::AudioTrack> tracks(2);  // stale entries must go
    int64_t selectedId = 99;
    hosted_mpv::updateTracksFromNode(tree, kind, tracks, selectedId);
    size_t next = 0;
    int64_t expectedSelected = -1;
    for (int i = 0; isArray && i < tree.u.list->num; ++i) {
      const mpv_node& entry = tree.u.list->values[i];
      if (entry.format != MPV_FORMAT_NODE_MAP) continue;
      const mpv_node* type = firstOf(entry, "type");
      if (type == nullptr || expectedString(type) != kind) continue;
      const std::optional<int64_t> id = expectedId(firstOf(entry, "id"));
      if (!id || *id < 0) continue;
      check(next < tracks.size(), "dropped a track that qualifies");
      const hosted_mpv::AudioTrack& got = tracks[next++];
      const bool selected = expectedFlag(firstOf(entry, "selected"));
      check(got.id == *id && got.title == expectedString(firstOf(entry, "title")) &&
                got.language == expectedString(firstOf(entry, "lang")) &&
                got.selected == selected &&
                got.defaultTrack == expectedFlag(firstOf(entry, "default")) &&
                got.forced == expectedFlag(firstOf(entry, "forced")),
            "track fields are not the entry's first ones");
      if (selected) expectedSelected = *id;
    }
    check(next == tracks.size(), "took a track that does not qualify");
    check(selectedId == expectedSelected, "selected id is not the last selected track's");
  }
}

void checkChapters(const mpv_node& tree) {
  hosted_mpv::SessionSnapshot snapshot;
  snapshot.chapters.resize(3);  // stale entries must go
  hosted_mpv::updateChaptersFromNode(snapshot, tree);
  const auto& chapters = snapshot.chapters;
  check(chapters.size() <= 256, "more than 256 chapters");
  size_t next = 0;
  const bool isArray = tree.format == MPV_FORMAT_NODE_ARRAY && tree.u.list != nullptr;
  for (int i = 0; isArray && i < tree.u.list->num; ++i) {
    const mpv_node& entry = tree.u.list->values[i];
    const mpv_node* time = firstOf(entry, "time");
    if (time == nullptr) continue;
    double seconds = 0;
    if (time->format == MPV_FORMAT_INT64) {
      seconds = static_cast<double>(time->u.int64);
    } else if (time->format == MPV_FORMAT_DOUBLE && std::isfinite(time->u.double_)) {
      seconds = time->u.double_;
    } else {
      continue;
    }
    if (next == chapters.size()) {
      check(next == 256, "dropped a usable chapter");
      break;
    }
    const auto& got = chapters[next++];
    check(got.timeSeconds == seconds, "chapter time differs");
    const std::string full = expectedString(firstOf(entry, "title"));
    check(full.compare(0, got.title.size(), got.title) == 0, "chapter title is not a prefix");
    if (full.size() <= 256) {
      check(got.title == full, "short chapter title changed");
    } else {
      check(got.title.size() <= 256, "chapter title too long");
      const auto atCut = static_cast<unsigned char>(full[got.title.size()]);
      check(got.title.empty() || atCut < 0x80 || atCut > 0xBF, "chapter title splits a character");
      if (fuzz_check::isValidUtf8(full)) {
        check(got.title.size() + 3 >= 256, "cut more than one character");
      }
    }
  }
  check(next == chapters.size(), "chapters that no entry gives");
}

void checkNodeReaders(const mpv_node& node, FuzzedDataProvider& data) {
  check(hosted_mpv::readNodeString(node) == expectedString(&node), "readNodeString differs");
  check(hosted_mpv::readNodeFlag(node) == expectedFlag(&node), "readNodeFlag differs");
  const std::string text = data.ConsumeRandomLengthString(32);  // NUL bytes included
  int64_t out = 12345;
  const bool read = hosted_mpv::parseIntegerString(text, out);
  const std::optional<int64_t> expected =
      text.find('\0') == std::string::npos ? expectedInteger(text) : std::nullopt;
  check(read == expected.has_value(), "parseIntegerString disagrees with the integer rule");
  check(read ? out == *expected : out == 12345, "parseIntegerString value differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  fuzz_check::MpvNodeBuilder builder(data);
  mpv_node tree = data.ConsumeBool() ? builder.arrayOfMaps(12) : builder.node();
  checkTracks(tree);
  checkChapters(tree);
  checkNodeReaders(tree, data);
  if (tree.format == MPV_FORMAT_NODE_ARRAY) {
    for (int i = 0; i < tree.u.list->num; ++i) checkNodeReaders(tree.u.list->values[i], data);
  }

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
