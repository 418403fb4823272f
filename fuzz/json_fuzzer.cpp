// Fuzzes the helper's JSON output: jsonEscape and JsonWriter.
//
// Properties, on every input:
// - a quoted jsonEscape of any bytes is one JSON string that decodes to
//   exactly those bytes, and is valid UTF-8 whenever the input is;
// - an object built with JsonWriter from random keys and values parses as
//   strict JSON with the keys in call order, texts byte for byte, integers
//   exact, numbers within the six significant digits of "%.6g", and values
//   that are not finite as null.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "json_check.h"
#include "json_writer.h"
#include "property_check.h"

using frame_helper::JsonWriter;
using fuzz_check::JsonValue;
using fuzz_check::check;

namespace {

void checkEscape(std::string_view text) {
  const std::string quoted = "\"" + frame_helper::jsonEscape(text) + "\"";
  JsonValue value;
  check(fuzz_check::parseJson(quoted, value), "escaped text is not a JSON string");
  check(value.kind == JsonValue::Kind::String, "escaped text is not a string");
  check(value.text == text, "escaped text does not decode to its bytes");
  if (fuzz_check::isValidUtf8(text)) {
    check(fuzz_check::isValidUtf8(quoted), "valid UTF-8 escaped into invalid UTF-8");
  }
}

// What one call to the writer should give back.
struct Expected {
  enum class Kind { Text, Number, Integer, Boolean, Null, Nested } kind;
  std::string key;
  std::string text;
  double number = 0;
  int64_t integer = 0;
  bool flag = false;
  std::vector<std::pair<std::string, std::string>> nested;
};

double numberOf(FuzzedDataProvider& data) {
  switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return data.ConsumeFloatingPoint<double>();
    case 1:
      return data.ConsumeIntegral<int32_t>();
    case 2:
      return data.ConsumeIntegral<int64_t>() / 1000.0;
    default: {
      // Any bit pattern: subnormals, nan, infinities and negative zero too.
      const uint64_t bits = data.ConsumeIntegral<uint64_t>();
      double value = 0;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
  }
}

bool sameNumber(const std::string& written, double value) {
  const double parsed = std::strtod(written.c_str(), nullptr);
  // "%.6g" keeps six significant digits: half a unit in the sixth digit,
  // plus the smallest subnormal for values that small.
  return std::fabs(parsed - value) <= 5e-6 * std::fabs(value) + 5e-324;
}

void checkWriter(FuzzedDataProvider& data) {
  JsonWriter writer;
  std::vector<Expected> expected;
  const int count = data.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < count; ++i) {
    Expected e;
    e.key = data.ConsumeRandomLengthString(16);
    switch (data.ConsumeIntegralInRange(0, 5)) {
      case 0:
        e.kind = Expected::Kind::Text;
        e.text = data.ConsumeRandomLengthString(64);
        writer.str(e.key, e.text);
        break;
      case 1:
        e.kind = Expected::Kind::Number;
        e.number = numberOf(data);
        writer.num(e.key, e.number);
        break;
      case 2:
        e.kind = Expected::Kind::Integer;
        e.integer = data.ConsumeIntegral<int64_t>();
        writer.integer(e.key, e.integer);
        break;
      case 3:
        e.kind = Expected::Kind::Boolean;
        e.flag = data.ConsumeBool();
        writer.boolean(e.key, e.flag);
        break;
      case 4:
        e.kind = Expected::Kind::Null;
        writer.null(e.key);
        break;
      default: {
        // A nested object written by a writer of its own, as the snapshot's
        // track and chapter lists are.
        e.kind = Expected::Kind::Nested;
        JsonWriter inner;
        const int members = data.ConsumeIntegralInRange(0, 3);
        for (int m = 0; m < members; ++m) {
          std::string key = data.ConsumeRandomLengthString(8);
          std::string value = data.ConsumeRandomLengthString(16);
          inner.str(key, value);
          e.nested.emplace_back(std::move(key), std::move(value));
        }
        writer.raw(e.key, inner.finish());
      }
    }
    expected.push_back(std::move(e));
  }

  const std::string json = writer.finish();
  JsonValue object;
  check(fuzz_check::parseJson(json, object), "JsonWriter output is not JSON");
  check(object.kind == JsonValue::Kind::Object, "JsonWriter output is not an object");
  check(object.items.size() == expected.size(), "member count differs");
  for (size_t i = 0; i < expected.size(); ++i) {
    const Expected& e = expected[i];
    const JsonValue& value = object.items[i];
    check(object.keys[i] == e.key, "key differs or is out of order");
    switch (e.kind) {
      case Expected::Kind::Text:
        check(value.kind == JsonValue::Kind::String && value.text == e.text, "text differs");
        break;
      case Expected::Kind::Number:
        if (std::isfinite(e.number)) {
          check(value.kind == JsonValue::Kind::Number && sameNumber(value.numberText, e.number),
                "number differs by more than six significant digits");
        } else {
          check(value.kind == JsonValue::Kind::Null, "a number that is not finite is not null");
        }
        break;
      case Expected::Kind::Integer:
        check(
            value.kind == JsonValue::Kind::Number && value.numberText == std::to_string(e.integer),
            "integer is not exact");
        break;
      case Expected::Kind::Boolean:
        check(value.kind == JsonValue::Kind::Boolean && value.boolean == e.flag, "boolean differs");
        break;
      case Expected::Kind::Null:
        check(value.kind == JsonValue::Kind::Null, "null differs");
        break;
      case Expected::Kind::Nested:
        check(value.kind == JsonValue::Kind::Object && value.items.size() == e.nested.size(),
              "nested object differs");
        for (size_t m = 0; m < e.nested.size(); ++m) {
          check(value.keys[m] == e.nested[m].first && value.items[m].text == e.nested[m].second,
                "nested member differs");
        }
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  checkEscape(std::string_view(reinterpret_cast<const char*>(bytes), size));
  FuzzedDataProvider data(bytes, size);
  checkWriter(data);
  return 0;
}
