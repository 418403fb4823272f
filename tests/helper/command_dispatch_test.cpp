#include "command_dispatch.h"

#include <gtest/gtest.h>
#include <mpv/client.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "../support/test_engine.h"
#include "event_loop.h"
#include "status_text.h"

using namespace frame_helper;

namespace {

// Runs `step` without the state lock the case holds while it looks at the
// state: as the threads that take the lock themselves run.
template <typename Step>
void withoutStateLock(HelperState& state, Step step) REQUIRES(state.stateMutex) {
  state.stateMutex.unlock();
  step();
  state.stateMutex.lock();
}

// One command, as the command reader runs it.
void run(HelperState& state, const std::string& line) REQUIRES(state.stateMutex) {
  withoutStateLock(state, [&] {
    threads::RoleScope reader(state.commandReader);
    threads::MutexLock gate(state.commandMutex);
    handleCommand(state, parseCommandLine(line));
  });
}

// Runs the command loop with `input` as its standard input, to its end.
void runStdinLoopOn(HelperState& state, std::string input) {
  std::FILE* stream = fmemopen(input.data(), input.size(), "r");
  ASSERT_NE(stream, nullptr);
  runStdinLoop(state, stream);
  std::fclose(stream);
}

// The recorder's complaint about a path it cannot open, as the event loop
// gets it; the lines it writes are swallowed.
void deliverRecorderFailureLocked(HelperState& state) REQUIRES(state.stateMutex) {
  threads::RoleScope eventLoop(state.mainThread);
  mpv_event_log_message message{"recorder", "error", "Failed opening output file.\n",
                                MPV_LOG_LEVEL_ERROR};
  mpv_event event{};
  event.event_id = MPV_EVENT_LOG_MESSAGE;
  event.data = &message;
  testing::internal::CaptureStdout();
  handleEngineEventLocked(state, event);
  testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(BuildLoadOptions, LengthPrefixedSortedNonEmpty) {
  EXPECT_EQ(buildLoadOptions(parseCommandLine("load\turl=u\topt.user-agent=A,B\topt.start=10")),
            "start=%2%10,user-agent=%3%A,B");
  // Values keep commas, equals and percent signs; lengths count bytes.
  EXPECT_EQ(buildLoadOptions(parseCommandLine("load\topt.http-header-fields=X-A%3A%201%2C2\t"
                                              "opt.title=%C3%BC%25=")),
            "http-header-fields=%8%X-A: 1,2,title=%4%\xC3\xBC%=");
  // Empty values, keys that are only the prefix and other keys are left out.
  EXPECT_EQ(buildLoadOptions(parseCommandLine("load\topt.start=\topt.=1\toptx=2\tOPT.a=3\turl=u")),
            "");
  // A live transport's own option, unless the caller set it.
  EXPECT_EQ(buildLoadOptions(parseCommandLine("load\turl=UDP://239.0.0.1:1234\topt.start=1")),
            "demuxer-lavf-linearize-timestamps=%3%yes,start=%1%1");
  EXPECT_EQ(buildLoadOptions(parseCommandLine(
                "load\turl=srt://h:1\topt.demuxer-lavf-linearize-timestamps=no")),
            "demuxer-lavf-linearize-timestamps=%2%no");
  EXPECT_EQ(buildLoadOptions(parseCommandLine("load\turl=http://h/udp://x")), "");
}

TEST(TruncateToInt32, TowardZeroWithSaturation) {
  EXPECT_EQ(truncateToInt32(1280.9), 1280);
  EXPECT_EQ(truncateToInt32(-15.9), -15);
  EXPECT_EQ(truncateToInt32(1e20), INT32_MAX);
  EXPECT_EQ(truncateToInt32(-1e20), INT32_MIN);
  EXPECT_EQ(truncateToInt32(2147483647.5), INT32_MAX);
  EXPECT_EQ(truncateToInt32(std::nan("")), 0);
}

TEST(CommandDispatch, PropertyCommandsWithLimitsAndDefaults) {
  TestEngine engine;
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // to look at it; run() lets go
  state.mpv = engine.mpv;
  state.snapshotDirty = false;

  // Each command line, in order, then the engine property it set.
  struct NumberStep {
    const char* line;
    const char* property;
    double expected;
  };
  for (const NumberStep& step : {
           NumberStep{"volume\tvalue=0.5", "volume", 50},
           NumberStep{"volume\tvalue=3", "volume", 100},
           NumberStep{"volume\tvalue=-1", "volume", 0},
           NumberStep{"volume", "volume", 100},
           NumberStep{"speed\tvalue=0", "speed", 0.25},
           NumberStep{"speed\tvalue=9", "speed", 4},
           NumberStep{"sub-scale\tvalue=10", "sub-scale", 4},
           NumberStep{"sub-delay\tvalue=-100", "sub-delay", -60},
           NumberStep{"sub-delay\tvalue=1.5", "sub-delay", 1.5},
       }) {
    run(state, step.line);
    EXPECT_DOUBLE_EQ(engine.getDouble(step.property), step.expected) << step.line;
  }

  struct TextStep {
    const char* line;
    const char* property;
    const char* expected;
  };
  for (const TextStep& step : {
           TextStep{"pause\tvalue=1", "pause", "yes"},
           TextStep{"pause\tvalue=true", "pause", "no"},  // only "1" pauses
           TextStep{"pause\tvalue=1", "pause", "yes"},
           TextStep{"pause", "pause", "no"},  // a bare "pause" resumes
           TextStep{"aid\tvalue=-1", "aid", "no"},
           TextStep{"sid\tvalue=-1", "sid", "no"},
           TextStep{"aid\tvalue=auto", "aid", "auto"},
       }) {
    run(state, step.line);
    EXPECT_EQ(engine.getString(step.property), step.expected) << step.line;
  }

  run(state, "aspect\tvalue=16:9");
  EXPECT_EQ(engine.getString("video-aspect-override").substr(0, 5), "1.777");
  run(state, "aspect");  // "no"
  EXPECT_EQ(engine.getString("video-aspect-override"), "0.000000");

  run(state, "sub-color\tvalue=%2380FF0000");
  EXPECT_EQ(engine.getString("sub-color"), "#80FF0000");
  run(state, "sub-color");
  EXPECT_EQ(engine.getString("sub-color"), "#FFFFFFFF");

  // Unknown names and property commands leave the helper's state alone.
  run(state, "Volume\tvalue=0.1");
  run(state, "nonsense");
  EXPECT_DOUBLE_EQ(engine.getDouble("volume"), 100);
  EXPECT_FALSE(state.snapshotDirty);
}

TEST(CommandDispatch, SizeTruncatesAndIgnoresSmallBoxes) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // to look at it; run() lets go
  state.renderWidth = 1280;
  state.renderHeight = 720;
  run(state, "size\twidth=15\theight=720");
  run(state, "size\twidth=640\theight=15");
  run(state, "size\twidth=abc\theight=720");
  EXPECT_EQ(state.renderWidth, 1280);
  EXPECT_EQ(state.renderHeight, 720);
  run(state, "size\twidth=1000.9\theight=562.2");
  EXPECT_EQ(state.renderWidth, 1000);
  EXPECT_EQ(state.renderHeight, 562);
  // Any box is taken, however large: the fitted ring is what is bounded.
  // Numbers beyond 32 bits are malformed and ignored.
  for (const char* side : {"1e12", "2147483648", "inf", "nan"}) {
    run(state, std::string("size\twidth=") + side + "\theight=16");
    EXPECT_EQ(state.renderWidth, 1000) << side;
  }
  run(state, "size\twidth=2147483647.5\theight=16");
  EXPECT_EQ(state.renderWidth, INT32_MAX);
  EXPECT_EQ(state.renderHeight, 16);
  run(state, "size\twidth=640\theight=16385");
  EXPECT_EQ(state.renderWidth, 640);
  EXPECT_EQ(state.renderHeight, 16385);
  run(state, "size\twidth=16384\theight=16");
  EXPECT_EQ(state.renderWidth, 16384);
  EXPECT_EQ(state.renderHeight, 16);
}

TEST(CommandDispatch, LoadWithoutUrlDoesNothing) {
  TestEngine engine;
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // to look at it; run() lets go
  state.mpv = engine.mpv;
  state.snapshotDirty = false;
  run(state, "load");
  run(state, "load\turl=");
  EXPECT_FALSE(state.snapshotDirty);
  EXPECT_EQ(state.status, "idle");
}

TEST(CommandDispatch, LoadStopsARecordingAndResetsTheError) {
  TestEngine engine;
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // to look at it; run() lets go
  state.mpv = engine.mpv;
  state.recording.active = true;
  state.recording.targetPath = "/tmp/r.ts";
  state.recording.startedAt = "2024-01-01T00:00:00Z";
  state.recording.error = "old";
  state.error = "x";
  state.errorFromEngine = true;
  state.snapshotDirty = false;
  run(state, "load\turl=av://lavfi:testsrc2\topt.start=1");
  EXPECT_EQ(state.status, "loading");
  EXPECT_EQ(state.streamUrl, "av://lavfi:testsrc2");
  EXPECT_EQ(state.error, "");
  EXPECT_FALSE(state.errorFromEngine);
  EXPECT_FALSE(state.recording.active);
  EXPECT_EQ(state.recording.startedAt, "");
  EXPECT_EQ(state.recording.targetPath, "/tmp/r.ts");
  EXPECT_EQ(state.recording.error, "old");
  EXPECT_TRUE(state.snapshotDirty);
  EXPECT_EQ(engine.getString("stream-record"), "");
}

// Loads refused before the engine sees them show the refusal as the error;
// the URL and the option allow-list only under a policy.
TEST(CommandDispatch, LoadsRefusedBeforeTheEngine) {
  const struct {
    const char* line;
    const char* openError;  // without a policy; empty: it loads
    const char* guardedError;
  } kCases[] = {
      {"load\turl=http://a/x\topt.start=1\topt.user-agent=P/1", "", ""},
      {"load\turl=/tmp/magenta.png", "",
       "URL refused: scheme \"file\" is not in allowedSchemes (http)"},
      {"load\turl=http://a/x\topt.sub-files=/tmp/a.srt", "",
       "Load option refused: \"sub-files\" is not allowed with allowedSchemes"},
      {"load\turl=http://a/x\topt.%=1", "Load option refused: \"%\" is not an option name",
       "Load option refused: \"%\" is not an option name"},
      {"load\turl=http://a/x\topt.user-agent=a%0D%0AX: 1",
       "Header refused: \"user-agent\" holds a line break or NUL",
       "Header refused: \"user-agent\" holds a line break or NUL"},
  };
  for (bool guarded : {false, true}) {
    for (const auto& c : kCases) {
      TestEngine engine;
      HelperState state;
      threads::MutexLock lock(state.stateMutex);  // to look at it; run() lets go
      state.mpv = engine.mpv;
      if (guarded) state.urlPolicy = engine::UrlPolicy{{"http"}};
      run(state, c.line);
      const std::string error = guarded ? c.guardedError : c.openError;
      EXPECT_EQ(state.status, error.empty() ? "loading" : "error") << c.line;
      EXPECT_EQ(state.error, error) << c.line;
    }
  }
}

TEST(CommandDispatch, RecordStartsAndStops) {
  TestEngine engine;
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // to look at it; run() lets go
  state.mpv = engine.mpv;
  state.recording.error = "old";
  state.snapshotDirty = false;
  run(state, "record\tpath=/tmp/orvanel-record-test.ts");
  EXPECT_TRUE(state.recording.active);
  EXPECT_EQ(state.recording.targetPath, "/tmp/orvanel-record-test.ts");
  EXPECT_EQ(state.recording.startedAt.size(), std::strlen("2024-01-01T00:00:00Z"));
  EXPECT_EQ(state.recording.startedAt.back(), 'Z');
  EXPECT_EQ(state.recording.error, "");
  EXPECT_TRUE(state.snapshotDirty);
  EXPECT_EQ(engine.getString("stream-record"), "/tmp/orvanel-record-test.ts");

  state.recording.error = "stale";
  run(state, "record");
  EXPECT_FALSE(state.recording.active);
  EXPECT_EQ(state.recording.startedAt, "");
  EXPECT_EQ(state.recording.error, "");
  EXPECT_EQ(state.recording.targetPath, "/tmp/orvanel-record-test.ts");
  EXPECT_EQ(engine.getString("stream-record"), "");
}

TEST(CommandDispatch, AFailedRecordingLeavesTheEngineNotRecording) {
  // The engine keeps a refused "stream-record" path and would record the next
  // file into it once it can be opened.
  TestEngine engine;
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // to look at it; run() lets go
  state.mpv = engine.mpv;
  run(state, "record\tpath=/nope/r.ts");
  deliverRecorderFailureLocked(state);
  EXPECT_FALSE(state.recording.active);
  EXPECT_EQ(engine.getString("stream-record"), "/nope/r.ts");
  withoutStateLock(state, [&] { clearFailedRecording(state); });
  EXPECT_EQ(engine.getString("stream-record"), "");

  // A recording started after the failure is not undone by a late clear.
  state.recordingMachine.holdsFailedTarget = true;
  run(state, "record\tpath=/tmp/orvanel-record-test.ts");
  withoutStateLock(state, [&] { clearFailedRecording(state); });
  EXPECT_TRUE(state.recording.active);
  EXPECT_EQ(engine.getString("stream-record"), "/tmp/orvanel-record-test.ts");
  run(state, "record");

  // And a load never leaves the engine holding a path the snapshot does not show.
  mpv_set_property_string(engine.mpv, "stream-record", "/nope/r.ts");
  run(state, "load\turl=av://lavfi:testsrc2");
  EXPECT_EQ(engine.getString("stream-record"), "");
}

// "quit" ends the loop before later lines; so does the end of the input,
// after a last line without a line feed.
TEST(StdinLoop, QuitOrTheEndOfInputEndsTheLoop) {
  const std::pair<const char*, double> kCases[] = {
      {"volume\tvalue=0.2\n\nquit\nvolume\tvalue=0.9\n", 20}, {"volume\tvalue=0.3", 30}};
  for (const auto& [input, volume] : kCases) {
    TestEngine engine;
    HelperState state;
    state.mpv = engine.mpv;
    runStdinLoopOn(state, input);
    EXPECT_FALSE(state.running.load()) << input;
    EXPECT_DOUBLE_EQ(engine.getDouble("volume"), volume) << input;
  }
}

TEST(StdinLoop, ClosedEngineIsNeverTouched) {
  HelperState state;  // no engine at all: any engine call would crash
  closeEngineToCommands(state);
  runStdinLoopOn(state, "volume\tvalue=0.3\n");
  EXPECT_TRUE(state.running.load());  // main owns the shutdown from here
}
