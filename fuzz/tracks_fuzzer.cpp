// Fuzzes the shared readers of the engine's "track-list", "chapter-list",
// "aid" / "sid" and node values with random mpv_node trees and texts, in both
// players' readings.
//
// Properties: no crash and no read outside the trees on any input, and:
// - exact reading (the helper): a track is taken exactly when the entry is a
//   map whose last string "type" is the one asked for and whose last integer
//   "id" is 0 or more, with the last title, language and flags of the right
//   formats; a chapter's last integer or double "time" and last string title
//   count; an id text reads exactly the whole decimal integers of int64 range;
// - lenient reading (the hosted module): the first entry of a key counts; a
//   track is taken when its "type" reads as the kind and its "id" is a whole
//   decimal text, a finite double or an integer, 0 or more; its texts and
//   flags are the node readers' values; selectedId is the last selected
//   track's id, or -1; an id text is clamped to the int64 range as strtoll
//   clamps;
// - both: chapters keep their order, at most 256, with finite times, and
//   titles cut to at most 256 bytes without splitting a UTF-8 character.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "json_check.h"
#include "node_readers.h"
#include "random_node.h"
#include "tracks.h"

using engine::Chapter;
using engine::IntegerOverflow;
using engine::ListReading;
using engine::NodeReading;
using engine::Track;

namespace {

constexpr ListReading kExact{NodeReading::exact, IntegerOverflow::reject};
constexpr ListReading kLenient{NodeReading::lenient, IntegerOverflow::clamp};

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

bool isMap(const mpv_node& node) {
  return node.format == MPV_FORMAT_NODE_MAP && node.u.list != nullptr;
}

bool isArray(const mpv_node& node) {
  return node.format == MPV_FORMAT_NODE_ARRAY && node.u.list != nullptr;
}

// The value of the last `key` in `map` whose format is `format` (or `other`).
const mpv_node* lastOf(const mpv_node& map, const char* key, mpv_format format,
                       mpv_format other = MPV_FORMAT_NONE) {
  if (!isMap(map)) return nullptr;
  const mpv_node* found = nullptr;
  for (int i = 0; i < map.u.list->num; ++i) {
    const mpv_node& value = map.u.list->values[i];
    if (std::strcmp(map.u.list->keys[i], key) == 0 &&
        (value.format == format || (other != MPV_FORMAT_NONE && value.format == other))) {
      found = &value;
    }
  }
  return found;
}

const mpv_node* firstOf(const mpv_node& map, const char* key) {
  if (!isMap(map)) return nullptr;
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

// strtoll's reading of a whole decimal text; out of the int64 range it is
// clamped or none.
std::optional<int64_t> expectedInteger(const std::string& text, IntegerOverflow overflow) {
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
  if (value < INT64_MIN || value > INT64_MAX) {
    if (overflow == IntegerOverflow::reject) return std::nullopt;
    return value > 0 ? INT64_MAX : INT64_MIN;
  }
  return static_cast<int64_t>(value);
}

std::optional<int64_t> expectedLenientId(const mpv_node* id) {
  if (id == nullptr) return std::nullopt;
  switch (id->format) {
    case MPV_FORMAT_INT64:
      return id->u.int64;
    case MPV_FORMAT_STRING:
      return expectedInteger(id->u.string, kLenient.idOverflow);
    case MPV_FORMAT_DOUBLE:
      if (!std::isfinite(id->u.double_) || std::fabs(id->u.double_) >= 9.2e18) return std::nullopt;
      return static_cast<int64_t>(id->u.double_);
    default:
      return std::nullopt;
  }
}

std::optional<Track> expectedExactTrack(const mpv_node& node, const char* type) {
  const mpv_node* typeValue = lastOf(node, "type", MPV_FORMAT_STRING);
  const mpv_node* id = lastOf(node, "id", MPV_FORMAT_INT64);
  if (typeValue == nullptr || std::strcmp(typeValue->u.string, type) != 0 || id == nullptr ||
      id->u.int64 < 0) {
    return std::nullopt;
  }
  Track track;
  track.id = id->u.int64;
  if (const mpv_node* v = lastOf(node, "title", MPV_FORMAT_STRING)) track.title = v->u.string;
  if (const mpv_node* v = lastOf(node, "lang", MPV_FORMAT_STRING)) track.language = v->u.string;
  if (const mpv_node* v = lastOf(node, "default", MPV_FORMAT_FLAG)) track.defaultTrack = v->u.flag;
  if (const mpv_node* v = lastOf(node, "forced", MPV_FORMAT_FLAG)) track.forced = v->u.flag;
  return track;
}

std::optional<Track> expectedLenientTrack(const mpv_node& node, const char* type) {
  const mpv_node* typeValue = firstOf(node, "type");
  if (typeValue == nullptr || expectedString(typeValue) != type) return std::nullopt;
  const std::optional<int64_t> id = expectedLenientId(firstOf(node, "id"));
  if (!id || *id < 0) return std::nullopt;
  Track track;
  track.id = *id;
  track.title = expectedString(firstOf(node, "title"));
  track.language = expectedString(firstOf(node, "lang"));
  track.selected = expectedFlag(firstOf(node, "selected"));
  track.defaultTrack = expectedFlag(firstOf(node, "default"));
  track.forced = expectedFlag(firstOf(node, "forced"));
  return track;
}

bool sameTrack(const Track& a, const Track& b) {
  return a.id == b.id && a.title == b.title && a.language == b.language &&
         a.selected == b.selected && a.defaultTrack == b.defaultTrack && a.forced == b.forced;
}

// Each entry alone (the tree itself when it is no array), then the list.
void checkTracks(const mpv_node& tree, const ListReading& reading) {
  const bool exact = reading.nodes == NodeReading::exact;
  const int count = isArray(tree) ? tree.u.list->num : 1;
  for (const char* type : {"audio", "sub"}) {
    std::vector<Track> expected;
    int64_t expectedSelected = -1;
    for (int i = 0; i < count; ++i) {
      const mpv_node& entry = isArray(tree) ? tree.u.list->values[i] : tree;
      Track got;
      const bool read = engine::readTrack(entry, type, reading, got);
      const std::optional<Track> want =
          exact ? expectedExactTrack(entry, type) : expectedLenientTrack(entry, type);
      check(read == want.has_value(),
            read ? "took a track that does not qualify" : "dropped a track that qualifies");
      if (!want) continue;
      check(sameTrack(got, *want), "track fields are not the entry's");
      expected.push_back(*want);
      if (want->selected) expectedSelected = want->id;
    }
    int64_t selectedId = 99;
    const std::vector<Track> tracks = engine::readTracks(tree, type, reading, &selectedId);
    if (!isArray(tree)) {
      check(tracks.empty() && selectedId == -1, "tracks from a node that is not an array");
      continue;
    }
    check(tracks.size() == expected.size(), "the list reads other tracks than its entries");
    for (size_t i = 0; i < tracks.size(); ++i) {
      check(sameTrack(tracks[i], expected[i]), "list track differs from its entry's");
    }
    check(selectedId == expectedSelected, "selected id is not the last selected track's");
  }
}

void checkChapters(const mpv_node& tree, const ListReading& reading) {
  const bool exact = reading.nodes == NodeReading::exact;
  const std::vector<Chapter> chapters = engine::readChapters(tree, reading);
  check(chapters.size() <= engine::kMaxChapters, "more than 256 chapters");
  if (!isArray(tree)) {
    check(chapters.empty(), "chapters from a node that is not an array");
    return;
  }
  size_t next = 0;
  for (int i = 0; i < tree.u.list->num; ++i) {
    const mpv_node& entry = tree.u.list->values[i];
    const mpv_node* time =
        exact ? lastOf(entry, "time", MPV_FORMAT_INT64, MPV_FORMAT_DOUBLE) : firstOf(entry, "time");
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
      check(next == engine::kMaxChapters, "dropped a usable chapter");
      break;
    }
    const Chapter& got = chapters[next++];
    check(got.timeSeconds == seconds && std::isfinite(got.timeSeconds), "chapter time differs");
    const std::string full = exact ? expectedString(lastOf(entry, "title", MPV_FORMAT_STRING))
                                   : expectedString(firstOf(entry, "title"));
    check(full.compare(0, got.title.size(), got.title) == 0, "chapter title is not a prefix");
    if (full.size() <= engine::kMaxChapterTitleBytes) {
      check(got.title == full, "short chapter title changed");
    } else {
      check(got.title.size() <= engine::kMaxChapterTitleBytes, "chapter title too long");
      const auto atCut = static_cast<unsigned char>(full[got.title.size()]);
      check(got.title.empty() || (atCut & 0xC0) != 0x80, "chapter title splits a character");
      if (fuzz_check::isValidUtf8(full)) {
        check(got.title.size() + 3 >= engine::kMaxChapterTitleBytes, "cut more than one character");
      }
    }
  }
  check(next == chapters.size(), "chapters that no entry gives");
}

void checkNodeReaders(const mpv_node& node) {
  check(engine::readNodeString(node) == expectedString(&node), "readNodeString differs");
  check(engine::readNodeFlag(node) == expectedFlag(&node), "readNodeFlag differs");
}

// An id text ("aid", "sid") read in both overflow rules.
void checkIntegerText(FuzzedDataProvider& data) {
  std::string text = data.ConsumeRandomLengthString(32);
  const size_t nul = text.find('\0');  // the engine hands over C strings
  if (nul != std::string::npos) text.erase(nul);
  for (IntegerOverflow overflow : {IntegerOverflow::reject, IntegerOverflow::clamp}) {
    int64_t out = 12345;
    check(!engine::parseWholeInteger(nullptr, out, overflow) && out == 12345, "read a null text");
    const bool read = engine::parseWholeInteger(text.c_str(), out, overflow);
    const std::optional<int64_t> expected = expectedInteger(text, overflow);
    check(read == expected.has_value(), "integer read disagrees with the integer rule");
    check(read ? out == *expected : out == 12345, "integer value differs");
  }
}

void checkBothReadings(const mpv_node& tree) {
  for (const ListReading& reading : {kExact, kLenient}) {
    checkTracks(tree, reading);
    checkChapters(tree, reading);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  fuzz_check::RandomNodes builder(data);
  const mpv_node tree = data.ConsumeBool() ? builder.arrayOfMaps(12) : builder.node();
  checkBothReadings(tree);
  checkNodeReaders(tree);
  if (isArray(tree)) {
    for (int i = 0; i < tree.u.list->num; ++i) checkNodeReaders(tree.u.list->values[i]);
  }
  checkIntegerText(data);

  // The same entries over and over, past the chapter limit.
  if (isArray(tree) && tree.u.list->num > 0 && data.ConsumeBool()) {
    std::vector<mpv_node> many;
    while (many.size() < 300) {
      for (int i = 0; i < tree.u.list->num; ++i) many.push_back(tree.u.list->values[i]);
    }
    mpv_node_list list{static_cast<int>(many.size()), many.data(), nullptr};
    mpv_node big{};
    big.format = MPV_FORMAT_NODE_ARRAY;
    big.u.list = &list;
    for (const ListReading& reading : {kExact, kLenient}) checkChapters(big, reading);
  }
  return 0;
}
