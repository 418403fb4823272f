// Command lines on the helper's standard input: framing, splitting at tabs
// and percent decoding of values.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>

namespace frame_helper {

// One parsed command line. Owned by the thread that handles it.
struct Command {
  std::string name;  // as it stood in the line, not decoded
  std::unordered_map<std::string, std::string> fields;  // values decoded

  // The field read with std::stod (leading blanks skipped, trailing text
  // ignored); `fallback` when the key is missing or does not parse.
  double getDouble(const std::string& key, double fallback) const;
};

// Splits one line (without its line feed). Never fails.
Command parseCommandLine(std::string_view line);

// %XX with two hexadecimal digits becomes that byte; everything else is
// copied. One pass: a decoded % starts no new sequence. Never grows the text.
std::string percentDecode(std::string_view text);

// Reads one line up to a line feed, which is removed (a carriage return
// stays). No length limit. A last line without a line feed is still returned.
// False at end of input or on a read error.
bool readInputLine(std::FILE* stream, std::string& line);

}  // namespace frame_helper
