#include "command.h"

#include <cstdlib>
#include <stdexcept>

namespace frame_helper {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

double Command::getDouble(const std::string& key, double fallback) const {
  const auto it = fields.find(key);
  if (it == fields.end()) return fallback;
  try {
    return std::stod(it->second);
  } catch (const std::exception&) {  // invalid_argument or out_of_range
    return fallback;
  }
}

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hexValue(text[i + 1]);
      const int low = hexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>((high << 4) | low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

Command parseCommandLine(std::string_view line) {
  Command command;
  size_t start = 0;
  bool firstField = true;
  while (start <= line.size()) {
    size_t end = line.find('\t', start);
    const bool last = end == std::string_view::npos;
    if (last) end = line.size();
    // A tab at the very end gives no extra (empty) field.
    if (last && start == line.size() && !firstField) break;
    const std::string_view field = line.substr(start, end - start);
    if (firstField) {
      command.name = std::string(field);
      firstField = false;
    } else {
      const size_t eq = field.find('=');
      if (eq != std::string_view::npos) {
        command.fields[std::string(field.substr(0, eq))] = percentDecode(field.substr(eq + 1));
      }
    }
    if (last) break;
    start = end + 1;
  }
  return command;
}

bool readInputLine(std::FILE* stream, std::string& line) {
  char* data = nullptr;
  size_t capacity = 0;
  const ssize_t length = ::getline(&data, &capacity, stream);
  if (length < 0) {
    std::free(data);
    return false;
  }
  size_t size = static_cast<size_t>(length);
  if (size > 0 && data[size - 1] == '\n') --size;
  line.assign(data, size);
  std::free(data);
  return true;
}

}  // namespace frame_helper
