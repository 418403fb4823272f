// The "loadfile" command against the real engine of this machine.
#include "load_command.h"

#include <gtest/gtest.h>

#include "../support/test_engine.h"

using namespace hosted_mpv;

TEST(ReplaceAllInPlace, NeverSearchesInsertedText) {
  std::string text = "a\\b\\";
  replaceAllInPlace(text, "\\", "\\\\");
  EXPECT_EQ(text, "a\\\\b\\\\");
  std::string same = "abc";
  replaceAllInPlace(same, "", "x");
  EXPECT_EQ(same, "abc");
}

TEST(EscapeHeaderValue, EscapesCommasOnly) {
  EXPECT_EQ(escapeHeaderValue("a=1,b=2"), "a=1\\,b=2");
  EXPECT_EQ(escapeHeaderValue("a\\b"), "a\\b");
  EXPECT_EQ(escapeHeaderValue("a\\,b"), "a\\\\,b");  // the engine reads back a\,b
}

TEST(FormatStartOption, WritesLikeADefaultStream) {
  EXPECT_EQ(formatStartOption(0), "0");
  EXPECT_EQ(formatStartOption(90.5), "90.5");
  EXPECT_EQ(formatStartOption(1234567), "1.23457e+06");
  EXPECT_EQ(formatStartOption(0.00001), "1e-05");
}

namespace {

// The default test engine, and a wait for what a loadfile brings.
struct Engine : TestEngine {
  // The first reply with `replyId` and the first start of a file, waiting up
  // to five seconds.
  void waitFor(uint64_t replyId, int& replyError, bool& started) {
    bool replied = false;
    started = false;
    for (int i = 0; i < 100 && !(replied && started); ++i) {
      mpv_event* event = mpv_wait_event(mpv, 0.05);
      if (event->event_id == MPV_EVENT_COMMAND_REPLY && event->reply_userdata == replyId) {
        replied = true;
        replyError = event->error;
      }
      if (event->event_id == MPV_EVENT_START_FILE) started = true;
    }
    ASSERT_TRUE(replied);
  }
};

}  // namespace

TEST(QueueLoadfile, FallsBackToTheFormWithoutIndexOnOlderEngines) {
  Engine engine;
  LoadOptions options = {{"force-media-title", "Test"}, {"start", "0.5"}};
  int status = engine::queueLoadfile(engine.mpv, 41, "av://lavfi:testsrc2=size=64x64:rate=5",
                                    options, /*withIndex=*/true);
  ASSERT_GE(status, 0) << mpv_error_string(status);
  int replyError = -1;
  bool started = false;
  engine.waitFor(41, replyError, started);
  EXPECT_EQ(replyError, 0);
  EXPECT_TRUE(started);
  char* title = mpv_get_property_string(engine.mpv, "media-title");
  ASSERT_NE(title, nullptr);
  EXPECT_STREQ(title, "Test");
  mpv_free(title);
}

TEST(QueueLoadfile, TheFormWithoutIndexLoadsWithAnEmptyOptionMap) {
  Engine engine;
  int status = engine::queueLoadfile(engine.mpv, 42, "av://lavfi:testsrc2=size=64x64:rate=5", {},
                                    engine::loadfileTakesIndex());
  ASSERT_GE(status, 0) << mpv_error_string(status);
  int replyError = -1;
  bool started = false;
  engine.waitFor(42, replyError, started);
  EXPECT_EQ(replyError, 0);
  EXPECT_TRUE(started);
}

TEST(QueueLoadfile, ReportsTheStatusOfTheSecondAttempt) {
  // An engine that was never initialised refuses every command with
  // MPV_ERROR_UNINITIALIZED; that status, not the first form's, comes back.
  mpv_handle* mpv = mpv_create();
  ASSERT_NE(mpv, nullptr);
  EXPECT_EQ(engine::queueLoadfile(mpv, 43, "av://lavfi:testsrc2", {}, true),
            MPV_ERROR_UNINITIALIZED);
  EXPECT_EQ(engine::queueLoadfile(mpv, 44, "av://lavfi:testsrc2", {}, false),
            MPV_ERROR_UNINITIALIZED);
  mpv_terminate_destroy(mpv);
}
