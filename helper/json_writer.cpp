#include "json_writer.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace frame_helper {

std::string jsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (byte < 32) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", byte);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string formatNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", value);
  return buf;
}

JsonWriter& JsonWriter::writeKey(std::string_view key) {
  if (!first) buffer += ',';
  first = false;
  buffer += '"';
  buffer += jsonEscape(key);
  buffer += "\":";
  return *this;
}

JsonWriter& JsonWriter::str(std::string_view key, std::string_view value) {
  writeKey(key);
  buffer += '"';
  buffer += jsonEscape(value);
  buffer += '"';
  return *this;
}

JsonWriter& JsonWriter::num(std::string_view key, double value) {
  writeKey(key);
  buffer += formatNumber(value);
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

void emitLine(const std::string& line) {
  static std::mutex stdoutMutex;
  std::lock_guard<std::mutex> lock(stdoutMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace frame_helper
