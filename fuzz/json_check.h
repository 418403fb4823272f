// A small strict JSON reader for the fuzz targets: RFC 8259 grammar (no
// trailing commas, no leading zeros, no bare control bytes in strings, no
// nan or inf), strings decoded to bytes. Bytes from 128 up are kept as they
// stand; whether they form valid UTF-8 is checked apart (isValidUtf8).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fuzz_check {

struct JsonValue {
  enum class Kind { Null, Boolean, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::string numberText;         // the number as written
  std::string text;               // decoded string
  std::vector<JsonValue> items;   // array elements, or object values
  std::vector<std::string> keys;  // object keys; keys[i] names items[i]
};

// Parses `json` as exactly one value with optional white space around it.
// False on any deviation from the grammar.
bool parseJson(std::string_view json, JsonValue& out);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool isValidUtf8(std::string_view text);

}  // namespace fuzz_check
