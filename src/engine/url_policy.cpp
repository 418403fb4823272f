#include "url_policy.h"

#include <algorithm>

namespace engine {

namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool isSchemeChar(char c) {
  return isLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowerText(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), lower);
  return out;
}

bool holdsLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// RFC 9110 token characters.
bool isTokenChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isOptionNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Transports that carry an allowed network scheme: none reads local data,
// and what one opens under it (crypto's inner URL) is checked again.
constexpr std::string_view kTransports[] = {"tcp", "tls", "udp", "rtp", "crypto", "httpproxy"};

}  // namespace

std::string schemeOf(std::string_view url) {
  const size_t separator = url.find("://");
  if (separator == std::string_view::npos || separator == 0) return "file";
  const std::string_view scheme = url.substr(0, separator);
  if (!std::all_of(scheme.begin(), scheme.end(), isSchemeChar)) return "file";
  return lowerText(scheme);
}

bool parseUrlPolicy(std::string_view list, UrlPolicy& policy, std::string& error) {
  policy.schemes.clear();
  if (list.empty()) return true;  // nothing allowed
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(',', start), list.size());
    std::string_view entry = list.substr(start, end - start);
    if (entry.ends_with(':')) entry.remove_suffix(1);
    const bool isScheme = !entry.empty() && isLetter(entry[0]) &&
                          std::all_of(entry.begin(), entry.end(), isSchemeChar);
    if (!isScheme) {
      error = "allowed schemes must be URL schemes such as \"https\", not " +
              quoted(list.substr(start, end - start));
      return false;
    }
    policy.schemes.push_back(lowerText(entry));
    start = end + 1;
  }
  return true;
}

bool urlPolicyFromSchemes(const std::vector<std::string>& texts, UrlPolicy& policy) {
  policy.schemes.clear();
  for (const std::string& text : texts) {
    UrlPolicy one;
    std::string error;
    if (!parseUrlPolicy(text, one, error) || one.schemes.size() != 1) return false;
    policy.schemes.push_back(one.schemes.front());
  }
  return true;
}

std::string urlRefusal(const UrlPolicy& policy, std::string_view url) {
  const std::string scheme = schemeOf(url);
  if (std::find(policy.schemes.begin(), policy.schemes.end(), scheme) != policy.schemes.end()) {
    return "";
  }
  std::string allowed;
  for (const std::string& name : policy.schemes) {
    if (!allowed.empty()) allowed += ", ";
    allowed += name;
  }
  return "URL refused: scheme " + quoted(scheme) + " is not in allowedSchemes (" + allowed + ")";
}

std::string protocolWhitelist(const UrlPolicy& policy) {
  std::string list;
  const auto add = [&list](std::string_view name) {
    if (!list.empty()) list += ',';
    list += name;
  };
  for (const std::string& scheme : policy.schemes) add(scheme);
  for (std::string_view transport : kTransports) {
    if (std::find(policy.schemes.begin(), policy.schemes.end(), transport) == policy.schemes.end()) {
      add(transport);
    }
  }
  return list;
}

const std::vector<std::string_view> kPolicyLoadOptions = {
    "start", "end", "force-media-title", "user-agent", "referrer", "http-header-fields",
    "cache", "cache-secs", "cache-pause", "cache-pause-wait", "demuxer-max-bytes",
    "demuxer-max-back-bytes", "demuxer-readahead-secs", "network-timeout", "hls-bitrate",
    "pause", "mute", "volume", "speed", "aid", "sid", "vid", "alang", "slang",
    "sub-delay", "audio-delay", "video-aspect-override", "loop-file", "deinterlace",
};

std::string loadOptionRefusal(std::string_view name, std::string_view value, bool underPolicy) {
  if (name.empty() || !std::all_of(name.begin(), name.end(), isOptionNameChar)) {
    return "Load option refused: " + quoted(name) + " is not an option name";
  }
  if (name == "user-agent" || name == "referrer") return headerTextRefusal(name, value);
  if (name == "http-header-fields") return headerListRefusal(value);
  if (holdsLineBreakOrNul(value)) {
    return "Load option refused: the value of " + quoted(name) + " holds a line break or NUL";
  }
  if (underPolicy &&
      std::find(kPolicyLoadOptions.begin(), kPolicyLoadOptions.end(), lowerText(name)) ==
          kPolicyLoadOptions.end()) {
    return "Load option refused: " + quoted(name) + " is not allowed with allowedSchemes";
  }
  return "";
}

std::string headerTextRefusal(std::string_view what, std::string_view value) {
  if (!holdsLineBreakOrNul(value)) return "";
  return "Header refused: " + quoted(what) + " holds a line break or NUL";
}

std::string headerRefusal(std::string_view name, std::string_view value) {
  if (name.empty() || !std::all_of(name.begin(), name.end(), isTokenChar)) {
    return "Header refused: name " + quoted(name) + " is not an HTTP token";
  }
  if (holdsLineBreakOrNul(value)) return headerTextRefusal(name, value);
  if (value.ends_with('\\')) {
    return "Header refused: the value of " + quoted(name) + " ends in a backslash";
  }
  return "";
}

std::string headerListRefusal(std::string_view list) {
  if (holdsLineBreakOrNul(list)) return headerTextRefusal("http-header-fields", list);
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(',', start);
    while (end != std::string_view::npos && end > start && list[end - 1] == '\\') {
      end = list.find(',', end + 1);
    }
    if (end == std::string_view::npos) end = list.size();
    const std::string_view entry = list.substr(start, end - start);
    const size_t colon = entry.find(':');
    const std::string_view name = entry.substr(0, colon == std::string_view::npos ? 0 : colon);
    if (name.empty() || !std::all_of(name.begin(), name.end(), isTokenChar)) {
      return "Header refused: " + quoted(entry) + " is not a header with an HTTP token name";
    }
    start = end + 1;
  }
  return "";
}

}  // namespace engine
