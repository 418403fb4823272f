#include "utc_time.h"

namespace engine {

std::string formatUtcTimestamp(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[32];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return std::string(text, length);
}

}  // namespace engine
