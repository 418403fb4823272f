// Fuzzes the helper's command lines: splitting, percent decoding, number
// reading and line framing.
//
// Properties, on every input:
// - percentDecode never grows the text, and leaves a text without '%' alone;
// - parseCommandLine takes any bytes; the name is the text before the first
//   tab and no key holds a tab or '=';
// - fields built from the input and percent-encoded (in the varying ways an
//   application might) come back exactly, last occurrence winning, and the
//   lines come back whole through readInputLine.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"
#include "property_check.h"

using frame_helper::Command;
using fuzz_check::check;

namespace {

void checkRawLine(std::string_view line) {
  const std::string decoded = frame_helper::percentDecode(line);
  check(decoded.size() <= line.size(), "percentDecode grew the text");
  if (line.find('%') == std::string_view::npos) check(decoded == line, "decoded a text without %");

  const Command command = frame_helper::parseCommandLine(line);
  check(command.name == line.substr(0, line.find('\t')), "name is not the first field");
  for (const auto& [key, value] : command.fields) {
    check(key.find('\t') == std::string::npos && key.find('=') == std::string::npos,
          "key holds a tab or =");
    check(line.find("\t" + key + "=") != std::string_view::npos, "key not in the line");
    (void)command.getDouble(key, 0.0);  // any text: a number or the fallback
  }
}

// A text without the bytes in `banned`.
std::string without(std::string text, std::string_view banned) {
  std::string out;
  for (char c : text) {
    if (banned.find(c) == std::string_view::npos) out += c;
  }
  return out;
}

// Percent-encodes `value`: always %, tab, line feed and carriage return,
// every other byte too when `encodeAll`, with upper or lower case digits.
std::string encode(std::string_view value, bool encodeAll, bool lowerCase) {
  const char* digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string out;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (encodeAll || c == '%' || c == '\t' || c == '\n' || c == '\r') {
      out += '%';
      out += digits[byte >> 4];
      out += digits[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

void checkRoundTrip(FuzzedDataProvider& data) {
  const std::string name = without(data.ConsumeRandomLengthString(32), "\t\n");
  std::map<std::string, std::string> expected;
  std::string line = name;
  const int count = data.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < count; ++i) {
    if (data.ConsumeBool()) {  // a field without '=': ignored
      line += '\t';
      line += without(data.ConsumeRandomLengthString(16), "\t\n=");
      continue;
    }
    const std::string key = without(data.ConsumeRandomLengthString(16), "\t\n=");
    const std::string value = data.ConsumeRandomLengthString(64);
    const bool encodeAll = data.ConsumeBool();
    const bool lowerCase = data.ConsumeBool();
    line += '\t' + key + '=' + encode(value, encodeAll, lowerCase);
    expected[key] = value;
  }
  if (data.ConsumeBool()) line += '\t';  // a trailing tab adds no field

  const Command command = frame_helper::parseCommandLine(line);
  check(command.name == name, "name did not round-trip");
  check(command.fields.size() == expected.size(), "field count differs");
  for (const auto& [key, value] : expected) {
    const auto it = command.fields.find(key);
    check(it != command.fields.end() && it->second == value, "field did not round-trip");
  }

  // Framing: the line read back whole, twice in a row, the second without a
  // line feed at the end of input. An empty line still reads as one.
  const std::string stream = line + "\n" + line;
  std::FILE* file = fmemopen(const_cast<char*>(stream.data()), stream.size(), "r");
  check(file != nullptr, "fmemopen");
  std::string read;
  check(frame_helper::readInputLine(file, read) && read == line, "first line not read whole");
  if (!line.empty()) {
    check(frame_helper::readInputLine(file, read) && read == line, "last line not read whole");
  }
  check(!frame_helper::readInputLine(file, read), "read past the end of input");
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  checkRawLine(std::string_view(reinterpret_cast<const char*>(bytes), size));
  FuzzedDataProvider data(bytes, size);
  checkRoundTrip(data);
  return 0;
}
