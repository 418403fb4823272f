// Reading values out of the engine's mpv_node trees ("track-list",
// "chapter-list", their maps and texts). Pure functions; no shared state.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

// How a player reads the entries of a node map. The two players grew apart
// here and both behaviours are relied on, so each names its own:
// - exact: a key's value counts only in its own format (texts as non-null
//   strings, ids as integers, flags as flags); the last such entry wins.
// - lenient: the first entry of a key counts, converted where it can be:
//   numbers read as texts, ids from texts and doubles, "yes"/"true"/"1" as
//   flags.
enum class NodeReading { exact, lenient };

// What a text holding an integer too large for 64 bits gives.
enum class IntegerOverflow { reject, clamp };

// The value of the entry named `key` of a node map, or null. `reading` picks
// the entry (see NodeReading); in exact reading only entries of `format`, or
// of `otherFormat` when that is not MPV_FORMAT_NONE, are considered.
const mpv_node* findMapValue(const mpv_node& map, const char* key, NodeReading reading,
                             mpv_format format, mpv_format otherFormat = MPV_FORMAT_NONE);

// A text, or a number written out ("%g" for doubles); "" for anything else.
std::string readNodeString(const mpv_node& node);
// A flag, or a text that says "yes", "true" or "1" in any case.
bool readNodeFlag(const mpv_node& node);
// An integer, a whole decimal text, or a double truncated toward zero (one no
// 64-bit integer can hold is none). False, `id` untouched, for anything else.
bool readLenientId(const mpv_node& node, int64_t& id, IntegerOverflow overflow);

// True, with `out` set, when `text` is a whole base-10 integer as strtoll
// reads it (leading blanks and a sign allowed, nothing after it). False for a
// null or empty text, "no", "auto", "3x".
bool parseWholeInteger(const char* text, int64_t& out, IntegerOverflow overflow);

// Cuts `text` to at most `maxBytes` bytes without splitting a UTF-8 character.
std::string cutUtf8(std::string_view text, size_t maxBytes);

}  // namespace engine
