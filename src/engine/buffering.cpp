#include "buffering.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace engine {

bool parseStallTimeout(std::string_view text, double& seconds) {
  if (text == "no") {
    seconds = 0;
    return true;
  }
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (copy.empty() || end != copy.c_str() + copy.size() || !std::isfinite(value) || value < 0) {
    return false;
  }
  seconds = value;
  return true;
}

std::string streamStoppedText(double timeoutSeconds) {
  char text[96];
  std::snprintf(text, sizeof text, "Stream stopped: no data for %g s.", timeoutSeconds);
  return text;
}

bool stallExpired(Buffering& buffering, int64_t nowNs, int64_t timeoutNs) {
  if (!buffering.active || buffering.stalled || timeoutNs <= 0) return false;
  if (buffering.progressNs == 0) {
    buffering.progressNs = nowNs;
    return false;
  }
  return nowNs - buffering.progressNs >= timeoutNs;
}

}  // namespace engine
