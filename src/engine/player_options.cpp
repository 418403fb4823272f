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

}  // namespace engine
