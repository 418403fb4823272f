#include "buffering.h"

#include <cstdio>
#include <cstdlib>

namespace engine {

namespace {

// Digits with at most one point between digits: what a person writes for a
// number of seconds. strtod would also take blanks, signs, exponents,
// hexadecimal, "inf" and "nan".
bool isPlainDecimal(std::string_view text) {
  const size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  const auto digits = [](std::string_view part) {
    return !part.empty() && part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  return digits(whole) && (point == std::string_view::npos || digits(fraction));
}

}  // namespace

bool parseStallTimeout(std::string_view text, double& seconds, std::string& problem) {
  if (text == "no") {
    seconds = 0;
    return true;
  }
  const std::string copy(text);
  const double value = isPlainDecimal(text) ? std::strtod(copy.c_str(), nullptr) : -1;
  if (value < 0 || value > kMaxStallTimeoutSeconds) {
    char bound[32];
    std::snprintf(bound, sizeof bound, "%g", kMaxStallTimeoutSeconds);
    problem = std::string(kStallTimeoutOption) + ": \"" + copy +
              "\" is no number of seconds (up to " + bound + ", or \"no\" for no bound)";
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

bool stallExpired(Buffering& buffering, bool userPaused, int64_t nowNs, int64_t timeoutNs) {
  const int64_t elapsedNs = buffering.checkedNs == 0 ? 0 : nowNs - buffering.checkedNs;
  buffering.checkedNs = nowNs;
  if (buffering.stalled || timeoutNs <= 0) return false;
  if (buffering.dataArrived) {
    buffering.dataArrived = false;
    buffering.waitedNs = 0;
    buffering.waitedAtCheck = buffering.active && !userPaused;
    return false;
  }
  // The time since the last check counts when the player waited then.
  if (buffering.waitedAtCheck) buffering.waitedNs += elapsedNs;
  buffering.waitedAtCheck = buffering.active && !userPaused;
  return buffering.waitedNs >= timeoutNs;
}

void noteSeek(Buffering& buffering) {
  buffering.waitedNs = 0;
  buffering.dataArrived = false;
  buffering.cacheEnd = -1;
}

}  // namespace engine
