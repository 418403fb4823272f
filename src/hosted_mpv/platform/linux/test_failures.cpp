#include "platform/linux/test_failures.h"

#include <cstdlib>
#include <string_view>

namespace hosted_mpv {

bool testFailureRequested(const char* what) {
  const char* value = std::getenv("ORVANEL_TEST_FAIL");
  if (!value) return false;
  std::string_view list(value);
  while (!list.empty()) {
    size_t comma = list.find(',');
    if (list.substr(0, comma) == what) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace hosted_mpv
