// Random mpv_node trees for the fuzz targets, built from fuzz input: every
// format the client API has, maps whose keys come mostly from the names the
// track and chapter readers look for, and string values that are often the
// track types. Structurally valid, as the engine hands them out: lists have
// `num` entries, map keys and strings are never null. The nodes are kept by
// the tests' MpvNodeBuilder, so they live as long as this object.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <mpv/client.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "mpv_node_builder.h"

namespace fuzz_check {

class RandomNodes {
 public:
  explicit RandomNodes(FuzzedDataProvider& data) : data_(data) {}

  mpv_node node(int depth = 0) {
    const int kind = data_.ConsumeIntegralInRange(0, depth >= 3 ? 5 : 8);
    switch (kind) {
      case 0:
        return nodes_.none();
      case 1:
        return nodes_.string(text(kStringValues));
      case 2:
        return nodes_.flag(data_.ConsumeIntegralInRange(0, 2));  // 2: not a C boolean, still true
      case 3:
        return nodes_.integer(data_.ConsumeBool() ? data_.ConsumeIntegralInRange<int64_t>(-2, 8)
                                                  : data_.ConsumeIntegral<int64_t>());
      case 4: {
        double value;
        const uint64_t bits = data_.ConsumeIntegral<uint64_t>();
        std::memcpy(&value, &bits, sizeof bits);  // nan and infinities too
        if (data_.ConsumeBool()) value = data_.ConsumeIntegralInRange(-5, 7200) / 4.0;
        return nodes_.number(value);
      }
      case 5:
        return nodes_.bytes(
            data_.ConsumeBytes<uint8_t>(data_.ConsumeIntegralInRange<size_t>(0, 16)));
      case 6:
      case 7:
        return map(depth);
      default:
        return array(depth);
    }
  }

  // An array of maps, as "track-list" and "chapter-list" are, with an odd
  // element in between now and then.
  mpv_node arrayOfMaps(int maxElements) {
    std::vector<mpv_node> elements;
    const int count = data_.ConsumeIntegralInRange(0, maxElements);
    for (int i = 0; i < count && data_.remaining_bytes() > 0; ++i) {
      elements.push_back(data_.ConsumeIntegralInRange(0, 7) == 0 ? node(1) : map(1));
    }
    return nodes_.array(std::move(elements));
  }

 private:
  static constexpr const char* kKeys[] = {"type",   "id",   "title",    "lang",  "default",
                                          "forced", "time", "selected", "src-id"};
  static constexpr const char* kStringValues[] = {"audio", "sub", "video", "", "Deutsch", "eng"};

  template <size_t N>
  std::string text(const char* const (&vocabulary)[N]) {
    std::string value = data_.ConsumeBool()
                            ? vocabulary[data_.ConsumeIntegralInRange<size_t>(0, N - 1)]
                            : data_.ConsumeRandomLengthString(300);
    const size_t nul = value.find('\0');  // a C string ends at its first NUL
    if (nul != std::string::npos) value.erase(nul);
    return value;
  }

  mpv_node map(int depth) {
    std::vector<std::pair<std::string, mpv_node>> entries;
    const int count = data_.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < count && data_.remaining_bytes() > 0; ++i) {
      std::string key = text(kKeys);
      entries.emplace_back(std::move(key), node(depth + 1));
    }
    return nodes_.map(entries);
  }

  mpv_node array(int depth) {
    std::vector<mpv_node> values;
    const int count = data_.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < count && data_.remaining_bytes() > 0; ++i)
      values.push_back(node(depth + 1));
    return nodes_.array(std::move(values));
  }

  FuzzedDataProvider& data_;
  MpvNodeBuilder nodes_;
};

}  // namespace fuzz_check
