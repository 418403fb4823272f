#include "url_guard.h"

#include <vector>

namespace engine {

namespace {

// No protocol of the engine or of libavformat takes this scheme.
constexpr char kRefusedUrl[] = "refused-by-url-policy://";

// Sets `key` in the key-value list option `option`, keeping its other keys
// (the application's own libavformat options).
int setListKey(mpv_handle* mpv, const char* option, const char* key, const std::string& value) {
  mpv_node current{};
  const bool hasCurrent = mpv_get_property(mpv, option, MPV_FORMAT_NODE, &current) >= 0 &&
                          current.format == MPV_FORMAT_NODE_MAP;
  std::vector<char*> keys;
  std::vector<mpv_node> values;
  if (hasCurrent) {
    for (int i = 0; i < current.u.list->num; ++i) {
      if (std::string(current.u.list->keys[i]) == key) continue;
      keys.push_back(current.u.list->keys[i]);
      values.push_back(current.u.list->values[i]);
    }
  }
  mpv_node ours{};
  ours.format = MPV_FORMAT_STRING;
  ours.u.string = const_cast<char*>(value.c_str());  // the engine copies it
  keys.push_back(const_cast<char*>(key));
  values.push_back(ours);
  mpv_node_list list{static_cast<int>(values.size()), values.data(), keys.data()};
  mpv_node map{};
  map.format = MPV_FORMAT_NODE_MAP;
  map.u.list = &list;
  const int result = mpv_set_property(mpv, option, MPV_FORMAT_NODE, &map);
  if (hasCurrent) mpv_free_node_contents(&current);
  return result;
}

}  // namespace

int startUrlGuard(mpv_handle* mpv, const UrlPolicy& policy) {
  const std::string whitelist = protocolWhitelist(policy);
  const int results[] = {
      setListKey(mpv, "demuxer-lavf-o", "protocol_whitelist", whitelist),
      setListKey(mpv, "stream-lavf-o", "protocol_whitelist", whitelist),
      mpv_set_property_string(mpv, "load-unsafe-playlists", "no"),
      mpv_hook_add(mpv, kUrlHookReply, "on_load", kUrlHookPriority),
  };
  for (const int result : results) {
    if (result < 0) return result;
  }
  return 0;
}

std::string checkUpcomingUrl(mpv_handle* mpv, const UrlPolicy& policy) {
  char* url = mpv_get_property_string(mpv, "stream-open-filename");
  // Nothing to read is nothing this check can vouch for.
  std::string refusal = urlRefusal(policy, url ? url : "");
  if (url) mpv_free(url);
  if (!refusal.empty()) mpv_set_property_string(mpv, "stream-open-filename", kRefusedUrl);
  return refusal;
}

}  // namespace engine
