// The one filter of the engine's log lines both players use.
#include "log_lines.h"

#include <gtest/gtest.h>

using namespace engine;

namespace {

TEST(LogLines, KindByLevelAndModule) {
  const struct {
    const char* level;
    const char* prefix;  // null: the engine named no module
    LogLineKind kind;
  } kCases[] = {
      {"fatal", "cplayer", LogLineKind::failure},
      {"error", nullptr, LogLineKind::failure},
      {"error", "recorder", LogLineKind::recorderFailure},
      {"fatal", "recorder", LogLineKind::recorderFailure},
      {"warn", "recorder", LogLineKind::warning},  // a recorder warning fails nothing
      {"info", "recorder", LogLineKind::other},
      {"Error", "vd", LogLineKind::other},  // the engine's levels are lower case
      {"error", "recorder/x", LogLineKind::failure},
  };
  for (const auto& c : kCases) {
    mpv_event_log_message message{c.prefix, c.level, "text\n", MPV_LOG_LEVEL_NONE};
    const auto line = readLogLine(&message);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->kind, c.kind) << c.level << " " << line->prefix;
    EXPECT_STREQ(line->prefix, c.prefix ? c.prefix : "mpv");
  }
  mpv_event_log_message noLevel{"vd", nullptr, "text", MPV_LOG_LEVEL_ERROR};
  mpv_event_log_message noText{"vd", "error", nullptr, MPV_LOG_LEVEL_ERROR};
  EXPECT_FALSE(readLogLine(&noLevel) || readLogLine(&noText) || readLogLine(nullptr));
}

}  // namespace
