#include "deinterlacing.h"

namespace engine {

bool decidesDeinterlacing(std::string_view optionName) {
  return optionName == "deinterlace" || optionName == "vf";
}

void setDefaultDeinterlacing(mpv_handle* mpv, bool callerDecides) {
  if (!callerDecides) mpv_set_option_string(mpv, "vf", kDefaultVideoFilter);
}

}  // namespace engine
