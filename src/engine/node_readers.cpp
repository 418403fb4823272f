#include "node_readers.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace engine {

namespace {

bool isExactFormat(const mpv_node& value, mpv_format format, mpv_format otherFormat) {
  if (value.format == MPV_FORMAT_STRING && value.u.string == nullptr) return false;
  return value.format == format || (otherFormat != MPV_FORMAT_NONE && value.format == otherFormat);
}

}  // namespace

const mpv_node* findMapValue(const mpv_node& map, const char* key, NodeReading reading,
                             mpv_format format, mpv_format otherFormat) {
  if (map.format != MPV_FORMAT_NODE_MAP || map.u.list == nullptr) return nullptr;
  const mpv_node_list& list = *map.u.list;
  const mpv_node* found = nullptr;
  for (int i = 0; i < list.num; ++i) {
    if (list.keys == nullptr || list.keys[i] == nullptr || std::strcmp(list.keys[i], key) != 0) {
      continue;
    }
    const mpv_node& value = list.values[i];
    if (reading == NodeReading::lenient) return &value;
    if (isExactFormat(value, format, otherFormat)) found = &value;
  }
  return found;
}

std::string readNodeString(const mpv_node& node) {
  switch (node.format) {
    case MPV_FORMAT_STRING:
      return node.u.string ? node.u.string : "";
    case MPV_FORMAT_DOUBLE: {
      char text[64];
      std::snprintf(text, sizeof text, "%g", node.u.double_);
      return text;
    }
    case MPV_FORMAT_INT64:
      return std::to_string(node.u.int64);
    default:
      return "";
  }
}

bool readNodeFlag(const mpv_node& node) {
  switch (node.format) {
    case MPV_FORMAT_FLAG:
      return node.u.flag != 0;
    case MPV_FORMAT_STRING: {
      std::string text = node.u.string ? node.u.string : "";
      for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
      return text == "yes" || text == "true" || text == "1";
    }
    default:
      return false;
  }
}

bool readLenientId(const mpv_node& node, int64_t& id, IntegerOverflow overflow) {
  switch (node.format) {
    case MPV_FORMAT_STRING:
      return parseWholeInteger(node.u.string, id, overflow);
    case MPV_FORMAT_DOUBLE:
      // Truncated toward zero; a value no 64-bit integer can hold is no id.
      if (!std::isfinite(node.u.double_) || std::fabs(node.u.double_) >= 9.2e18) return false;
      id = int64_t(node.u.double_);
      return true;
    case MPV_FORMAT_INT64:
      id = node.u.int64;
      return true;
    default:
      return false;
  }
}

bool parseWholeInteger(const char* text, int64_t& out, IntegerOverflow overflow) {
  if (text == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0') return false;
  if (errno == ERANGE && overflow == IntegerOverflow::reject) return false;
  out = value;
  return true;
}

std::string cutUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t length = maxBytes;
  // The byte at the cut continues a character: drop that character's head too.
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  return std::string(text.substr(0, length));
}

}  // namespace engine
