#include "source_kinds.h"

#include <algorithm>
#include <array>

#include "url_policy.h"

namespace engine {

bool isLiveTransport(std::string_view url) {
  static constexpr std::array<std::string_view, 5> kSchemes{"udp", "rtp", "srt", "rist", "tcp"};
  return std::ranges::find(kSchemes, schemeOf(url)) != kSchemes.end();
}

std::vector<std::pair<std::string, std::string>> sourceKindOptions(std::string_view url) {
  if (!isLiveTransport(url)) return {};
  return {{"demuxer-lavf-linearize-timestamps", "yes"}};
}

}  // namespace engine
