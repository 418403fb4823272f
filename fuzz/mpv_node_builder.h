// Random mpv_node trees for the fuzz targets, built from fuzz input: every
// format the client API has, maps whose keys come mostly from the names the
// track and chapter readers look for, and string values that are often the
// track types. Structurally valid, as the engine hands them out: lists have
// `num` entries, map keys and strings are never null. The builder owns every
// byte of the trees it builds.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <mpv/client.h>

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace fuzz_check {

class MpvNodeBuilder {
 public:
  explicit MpvNodeBuilder(FuzzedDataProvider& data) : data_(data) {}

  mpv_node node(int depth = 0) {
    mpv_node out{};
    const int kind = data_.ConsumeIntegralInRange(0, depth >= 3 ? 5 : 8);
    switch (kind) {
      case 0:
        out.format = MPV_FORMAT_NONE;
        break;
      case 1:
        out.format = MPV_FORMAT_STRING;
        out.u.string = text(kStringValues);
        break;
      case 2:
        out.format = MPV_FORMAT_FLAG;
        out.u.flag = data_.ConsumeIntegralInRange(0, 2);  // 2: not a C boolean, still true
        break;
      case 3:
        out.format = MPV_FORMAT_INT64;
        out.u.int64 = data_.ConsumeBool() ? data_.ConsumeIntegralInRange<int64_t>(-2, 8)
                                          : data_.ConsumeIntegral<int64_t>();
        break;
      case 4: {
        out.format = MPV_FORMAT_DOUBLE;
        const uint64_t bits = data_.ConsumeIntegral<uint64_t>();
        std::memcpy(&out.u.double_, &bits, sizeof bits);  // nan and infinities too
        if (data_.ConsumeBool()) out.u.double_ = data_.ConsumeIntegralInRange(-5, 7200) / 4.0;
        break;
      }
      case 5: {
        out.format = MPV_FORMAT_BYTE_ARRAY;
        auto& bytes = byteStore_.emplace_back(
            data_.ConsumeBytes<uint8_t>(data_.ConsumeIntegralInRange<size_t>(0, 16)));
        auto& array = byteArrays_.emplace_back();
        array.data = bytes.data();
        array.size = bytes.size();
        out.u.ba = &array;
        break;
      }
      case 6:
      case 7:
        out.format = MPV_FORMAT_NODE_MAP;
        out.u.list = list(depth, true);
        break;
      default:
        out.format = MPV_FORMAT_NODE_ARRAY;
        out.u.list = list(depth, false);
    }
    return out;
  }

  // An array of maps, as "track-list" and "chapter-list" are, with an odd
  // element in between now and then.
  mpv_node arrayOfMaps(int maxElements) {
    mpv_node out{};
    out.format = MPV_FORMAT_NODE_ARRAY;
    OwnedList* owned = lists_.emplace_back(std::make_unique<OwnedList>()).get();
    const int count = data_.ConsumeIntegralInRange(0, maxElements);
    for (int i = 0; i < count && data_.remaining_bytes() > 0; ++i) {
      mpv_node element{};
      if (data_.ConsumeIntegralInRange(0, 7) == 0) {
        element = node(1);
      } else {
        element.format = MPV_FORMAT_NODE_MAP;
        element.u.list = list(1, true);
      }
      owned->values.push_back(element);
    }
    out.u.list = finishList(*owned);
    return out;
  }

  FuzzedDataProvider& data() { return data_; }

 private:
  struct OwnedList {
    std::vector<mpv_node> values;
    std::vector<char*> keys;
    mpv_node_list list{};
  };

  static constexpr const char* kKeys[] = {"type",   "id",   "title",    "lang",  "default",
                                          "forced", "time", "selected", "src-id"};
  static constexpr const char* kStringValues[] = {"audio", "sub", "video", "", "Deutsch", "eng"};

  template <size_t N>
  char* text(const char* const (&vocabulary)[N]) {
    std::string value = data_.ConsumeBool()
                            ? vocabulary[data_.ConsumeIntegralInRange<size_t>(0, N - 1)]
                            : data_.ConsumeRandomLengthString(300);
    const size_t nul = value.find('\0');  // a C string ends at its first NUL
    if (nul != std::string::npos) value.erase(nul);
    return strings_.emplace_back(std::move(value)).data();
  }

  mpv_node_list* list(int depth, bool isMap) {
    OwnedList* owned = lists_.emplace_back(std::make_unique<OwnedList>()).get();
    const int count = data_.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < count && data_.remaining_bytes() > 0; ++i) {
      if (isMap) owned->keys.push_back(text(kKeys));
      owned->values.push_back(node(depth + 1));
    }
    return finishList(*owned);
  }

  mpv_node_list* finishList(OwnedList& owned) {
    owned.list.num = static_cast<int>(owned.values.size());
    owned.list.values = owned.values.data();
    owned.list.keys = owned.keys.empty() ? nullptr : owned.keys.data();
    return &owned.list;
  }

  FuzzedDataProvider& data_;
  std::deque<std::string> strings_;
  std::deque<std::vector<uint8_t>> byteStore_;
  std::deque<mpv_byte_array> byteArrays_;
  std::vector<std::unique_ptr<OwnedList>> lists_;
};

}  // namespace fuzz_check
