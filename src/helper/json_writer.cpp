#include "json_writer.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace frame_helper {

namespace {

// Appends `text` escaped to `out`: runs that need no escape go in whole.
void appendEscaped(std::string& out, std::string_view text) {
  size_t plain = 0;  // start of the run not yet appended
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 32 && byte != '"' && byte != '\\') continue;
    out.append(text, plain, i - plain);
    plain = i + 1;
    switch (byte) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", byte);
        out += buf;
      }
    }
  }
  out.append(text, plain, text.size() - plain);
}

// Appends the "%.6g" form of a finite number. std::to_chars with a precision
// is printf's %g in the "C" locale, without printf's parsing and locking.
void appendNumber(std::string& out, double value) {
  char buf[64];
  const auto [end, error] =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
  if (error == std::errc()) {
    out.append(buf, end);
  } else {
    std::snprintf(buf, sizeof buf, "%.6g", value);  // not reached: 64 bytes always suffice
    out += buf;
  }
}

}  // namespace

std::string jsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  appendEscaped(out, text);
  return out;
}

std::string formatNumber(double value) {
  if (!std::isfinite(value)) return "null";
  std::string out;
  appendNumber(out, value);
  return out;
}

JsonWriter& JsonWriter::writeKey(std::string_view key) {
  if (!first) buffer += ',';
  first = false;
  buffer += '"';
  appendEscaped(buffer, key);
  buffer += "\":";
  return *this;
}

JsonWriter& JsonWriter::str(std::string_view key, std::string_view value) {
  writeKey(key);
  buffer += '"';
  appendEscaped(buffer, value);
  buffer += '"';
  return *this;
}

JsonWriter& JsonWriter::num(std::string_view key, double value) {
  writeKey(key);
  if (std::isfinite(value)) {
    appendNumber(buffer, value);
  } else {
    buffer += "null";
  }
  return *this;
}

JsonWriter& JsonWriter::integer(std::string_view key, int64_t value) {
  writeKey(key);
  buffer += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::boolean(std::string_view key, bool value) {
  writeKey(key);
  buffer += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null(std::string_view key) {
  writeKey(key);
  buffer += "null";
  return *this;
}

JsonWriter& JsonWriter::raw(std::string_view key, std::string_view json) {
  writeKey(key);
  buffer += json;
  return *this;
}

std::string JsonWriter::finish() {
  buffer += '}';
  return buffer;
}

threads::Mutex gOutputMutex;

void emitLine(const std::string& line) {
  threads::MutexLock lock(gOutputMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace frame_helper
