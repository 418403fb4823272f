#include "player_options.h"

namespace engine {

void setEmbeddedPlayerOptions(mpv_handle* mpv) {
  mpv_set_option_string(mpv, "vo", "libmpv");
  mpv_set_option_string(mpv, "idle", "yes");
  mpv_set_option_string(mpv, "keep-open", "yes");
  mpv_set_option_string(mpv, "keep-open-pause", "no");
  mpv_set_option_string(mpv, "input-default-bindings", "no");
  mpv_set_option_string(mpv, "osc", "no");
  mpv_set_option_string(mpv, "ytdl", "no");
}

std::optional<std::pair<std::string, std::string>> splitOptionText(std::string_view text) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0 || equals + 1 == text.size()) {
    return std::nullopt;
  }
  return std::pair<std::string, std::string>(text.substr(0, equals), text.substr(equals + 1));
}

}  // namespace engine
