// JSON output of the helper: one flat object per line on standard output.
//
// Threads: JsonWriter and jsonEscape have no shared state. emitLine may be
// called from any thread; its output lock makes every line whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mutex.h"

namespace frame_helper {

// Escapes a text for a JSON string body. Bytes from 32 up (127 and every
// byte from 128 included) pass unchanged, so UTF-8 goes through byte for byte.
std::string jsonEscape(std::string_view text);

// Builds one JSON object as text, keys in call order.
struct JsonWriter {
  std::string buffer = "{";
  bool first = true;

  // Writes `"key":`; the caller appends a raw value right after it.
  JsonWriter& writeKey(std::string_view key);
  JsonWriter& str(std::string_view key, std::string_view value);
  // "%.6g"; a value that is not finite is written as null, since nan and inf
  // are not JSON.
  JsonWriter& num(std::string_view key, double value);
  // Exact decimal integer, for values that "%.6g" would round (process ids).
  JsonWriter& integer(std::string_view key, int64_t value);
  JsonWriter& boolean(std::string_view key, bool value);
  JsonWriter& null(std::string_view key);
  // A value that is already JSON text (a nested array or object).
  JsonWriter& raw(std::string_view key, std::string_view json);
  std::string finish();
};

// The "%.6g" form of a number, or "null" when it is not finite.
std::string formatNumber(double value);

// The output lock: innermost of the helper's locks.
extern threads::Mutex gOutputMutex;

// Writes the line, one line feed and flushes, under the output lock. A failed
// write (closed pipe) is not reported. Any thread.
void emitLine(const std::string& line) EXCLUDES(gOutputMutex);

}  // namespace frame_helper
