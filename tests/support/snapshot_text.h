// A snapshot sink for tests: what the visitor (snapshot_writer.h) gives as
// one compact text, keys in order: `key=value` separated by spaces, texts
// quoted, objects in braces, lists in brackets.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct SnapshotText {
  std::string out;

  void key(const char* name) {
    if (!out.empty()) out += ' ';
    out += name;
    out += '=';
  }
  void number(const char* name, double value) {
    key(name);
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    out += text;
  }
  void text(const char* name, std::string_view value) {
    key(name);
    out.append("\"").append(value).append("\"");
  }
  void boolean(const char* name, bool value) {
    key(name);
    out += value ? "true" : "false";
  }
  void null(const char* name) {
    key(name);
    out += "null";
  }
  template <typename Fill>
  void object(const char* name, Fill fill) {
    SnapshotText inner;
    fill(inner);
    key(name);
    out += "{" + inner.out + "}";
  }
  template <typename Fill>
  void list(const char* name, size_t count, Fill fill) {
    key(name);
    out += '[';
    for (size_t i = 0; i < count; ++i) {
      SnapshotText item;
      fill(i, item);
      out += (i > 0 ? " {" : "{") + item.out + "}";
    }
    out += ']';
  }
  void texts(const char* name, const std::vector<std::string>& values) {
    key(name);
    out += '[';
    for (size_t i = 0; i < values.size(); ++i) out += (i > 0 ? " \"" : "\"") + values[i] + "\"";
    out += ']';
  }
};
