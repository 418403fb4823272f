#include "helper_state.h"

namespace frame_helper {

HelperState g_state;

}  // namespace frame_helper
