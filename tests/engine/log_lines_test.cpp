// The one filter of the engine's log lines both players use.
#include "log_lines.h"

#include <gtest/gtest.h>

using namespace engine;

namespace {

TEST(LogLines, KindByLevelAndModule) {
  const struct {
    const char* level;
    const char* prefix;
    LogLineKind kind;
  } kCases[] = {
      {"fatal", "cplayer", LogLineKind::failure},
      {"error", "ffmpeg", LogLineKind::failure},
      {"error", "recorder", LogLineKind::recorderFailure},
      {"fatal", "recorder", LogLineKind::recorderFailure},
      {"warn", "recorder", LogLineKind::warning},  // a recorder warning fails nothing
      {"warn", "ffmpeg/demuxer", LogLineKind::warning},
      {"info", "recorder", LogLineKind::other},
      {"v", "cplayer", LogLineKind::other},
      {"Error", "vd", LogLineKind::other},  // the engine's levels are lower case
      {"error", "recorder/x", LogLineKind::failure},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(logLineKind(c.level, c.prefix), c.kind) << c.level << " " << c.prefix;
    EXPECT_EQ(isFailure(c.kind),
              c.kind == LogLineKind::failure || c.kind == LogLineKind::recorderFailure);
  }
}

TEST(LogLines, MessagesWithoutLevelOrTextAreNoLinesAndANamelessModuleIsMpv) {
  EXPECT_FALSE(readLogLine(nullptr));
  mpv_event_log_message noLevel{"vd", nullptr, "text", MPV_LOG_LEVEL_ERROR};
  mpv_event_log_message noText{"vd", "error", nullptr, MPV_LOG_LEVEL_ERROR};
  EXPECT_FALSE(readLogLine(&noLevel));
  EXPECT_FALSE(readLogLine(&noText));
  mpv_event_log_message noPrefix{nullptr, "error", "Broken.\n", MPV_LOG_LEVEL_ERROR};
  const auto line = readLogLine(&noPrefix);
  ASSERT_TRUE(line);
  EXPECT_STREQ(line->prefix, "mpv");
  EXPECT_STREQ(line->text, "Broken.\n");
  EXPECT_EQ(line->kind, LogLineKind::failure);
  mpv_event_log_message recorder{"recorder", "error", "Cannot open.\n", MPV_LOG_LEVEL_ERROR};
  EXPECT_EQ(readLogLine(&recorder)->kind, LogLineKind::recorderFailure);
}

}  // namespace
