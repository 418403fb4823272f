// The time stamps both players report (a recording's start), in UTC.
#pragma once

#include <ctime>
#include <string>

namespace engine {

// `when` as "2026-01-31T23:59:59Z".
std::string formatUtcTimestamp(std::time_t when);

}  // namespace engine
