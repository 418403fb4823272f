#include "source_kinds.h"

#include <array>
#include <cctype>

namespace engine {

bool isLiveTransport(std::string_view url) {
  static constexpr std::array<std::string_view, 5> kSchemes{"udp", "rtp", "srt", "rist", "tcp"};
  const size_t end = url.find("://");
  if (end == std::string_view::npos) return false;
  std::string scheme(url.substr(0, end));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::string_view known : kSchemes) {
    if (scheme == known) return true;
  }
  return false;
}

std::vector<std::pair<std::string, std::string>> sourceKindOptions(std::string_view url) {
  if (!isLiveTransport(url)) return {};
  return {{"demuxer-lavf-linearize-timestamps", "yes"}};
}

}  // namespace engine
