#include "load_command.h"

#include <sstream>

namespace hosted_mpv {

void replaceAllInPlace(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
}

std::string escapeHeaderValue(std::string value) {
  // The engine's list parser only takes a backslash right before a comma as
  // an escape and keeps every other backslash as it is, so backslashes are
  // not doubled (doubled, "a\b" would reach the server as "a\\b").
  replaceAllInPlace(value, ",", "\\,");
  return value;
}

std::string formatStartOption(double seconds) {
  std::ostringstream text;
  text << seconds;
  return text.str();
}

}  // namespace hosted_mpv
