#include "player_setup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

using namespace frame_helper;

namespace {

struct SetupResult {
  bool ok = false;
  std::string error;
  std::string output;  // standard output during set-up
  std::set<std::string> applied;
  double stallTimeoutSeconds = -1;
  bool callerDecidesDeinterlacing = false;
};

// Runs the whole set-up with `input` as standard input; `inspect` sees the
// engine before it is destroyed.
template <typename Inspect>
SetupResult setUp(HelperArgs args, const std::string& input, Inspect inspect) {
  SetupResult result;
  std::string buffer = input;
  std::FILE* stream =
      buffer.empty() ? std::fopen("/dev/null", "r") : fmemopen(buffer.data(), buffer.size(), "r");
  HelperState state;
  threads::RoleScope mainThread(state.mainThread);  // set-up is main's
  testing::internal::CaptureStdout();
  result.ok = setupPlayer(state, args, stream, result.applied, result.error);
  result.output = testing::internal::GetCapturedStdout();
  std::fclose(stream);
  result.stallTimeoutSeconds = state.stallTimeoutSeconds;
  result.callerDecidesDeinterlacing = state.deinterlacing.callerDecides;
  if (result.ok) {
    inspect(state.mpv);
    mpv_terminate_destroy(state.mpv);
  } else {
    EXPECT_EQ(state.mpv, nullptr);
  }
  return result;
}

SetupResult setUp(HelperArgs args, const std::string& input) {
  return setUp(args, input, [](mpv_handle*) {});
}

HelperArgs withPreamble() {
  HelperArgs args;
  args.mpvOptionsStdin = true;
  return args;
}

std::string property(mpv_handle* mpv, const char* name) {
  char* text = mpv_get_property_string(mpv, name);
  std::string out = text ? text : "<none>";
  mpv_free(text);
  return out;
}

}  // namespace

TEST(SessionOptions, SortedByKeyAndMalformedEntriesSkipped) {
  const auto options = sessionOptionsFromPreamble(parseCommandLine(
      "mpv-options\tb=cache%3Dyes\ta=hwdec%3Dno\tc=demuxer-lavf-o%3Da%3Db\t10=x%3D1\t2=y%3D2\t"
      "d=cache\te=%3Dyes\tf=cache%3D"));
  ASSERT_EQ(options.size(), 5u);
  EXPECT_EQ(options[0].name, "x");  // "10" sorts before "2"
  EXPECT_EQ(options[1].name, "y");
  EXPECT_EQ(options[2].name, "hwdec");
  EXPECT_EQ(options[2].value, "no");
  EXPECT_EQ(options[3].name, "cache");
  EXPECT_EQ(options[4].name, "demuxer-lavf-o");
  EXPECT_EQ(options[4].value, "a=b");
  EXPECT_TRUE(sessionOptionsFromPreamble(parseCommandLine("mpv-options")).empty());
}

TEST(SetupPlayer, PreambleFailuresAreFatal) {
  SetupResult missing = setUp(withPreamble(), "");
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.error, "mpv-options preamble missing on stdin");

  SetupResult emptyLine = setUp(withPreamble(), "\nmpv-options\n");
  EXPECT_FALSE(emptyLine.ok);
  EXPECT_EQ(emptyLine.error, "expected the mpv-options preamble on stdin");

  SetupResult command = setUp(withPreamble(), "load\turl=x\n");
  EXPECT_FALSE(command.ok);
  EXPECT_EQ(command.error, "expected the mpv-options preamble on stdin");
  EXPECT_EQ(command.output, "");
}

TEST(SetupPlayer, AppliesPreambleOverFixedOptions) {
  HelperArgs args = withPreamble();
  args.volume = 0.5;
  args.audioDelay = "0.25";
  // The last line has no line feed and is still read.
  SetupResult result =
      setUp(args, "mpv-options\t2=hwdec%3Dno\t1=no-such-option%3D1\t3=cache", [](mpv_handle* mpv) {
        EXPECT_EQ(property(mpv, "hwdec"), "no");
        EXPECT_EQ(property(mpv, "keep-open"), "yes");
        EXPECT_EQ(property(mpv, "keep-open-pause"), "no");
        EXPECT_EQ(property(mpv, "idle"), "yes");
        EXPECT_EQ(property(mpv, "volume"), "50.000000");
        EXPECT_EQ(property(mpv, "audio-delay"), "0.250000");
      });
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.applied, std::set<std::string>{"hwdec"});
  EXPECT_EQ(result.output,
            "{\"event\":\"log\",\"level\":\"warn\",\"prefix\":\"orvanel\",\"text\":\"rejected "
            "session option no-such-option: " +
                std::string(mpv_error_string(MPV_ERROR_OPTION_NOT_FOUND)) + "\"}\n");
}

TEST(SetupPlayer, WithoutPreambleStdinIsNotRead) {
  HelperArgs args;
  args.volume = 7;
  SetupResult result = setUp(args, "mpv-options\t1=hwdec%3Dno\n", [](mpv_handle* mpv) {
    EXPECT_EQ(property(mpv, "hwdec"), "auto");
    EXPECT_EQ(property(mpv, "volume"), "100.000000");
    EXPECT_EQ(property(mpv, "audio-delay"), "0.000000");
  });
  EXPECT_TRUE(result.ok);
  EXPECT_TRUE(result.applied.empty());
}

// No filter at start-up: the event turns add one for interlaced frames,
// unless an accepted option of the caller's decides.
TEST(SetupPlayer, DeinterlacingIsTheCallersWhenAnAcceptedOptionDecides) {
  std::string vf;
  const auto readVf = [&](mpv_handle* mpv) { vf = property(mpv, "vf"); };
  const std::pair<const char*, bool> cases[] = {{"1=cache%3Dno", false},
                                                {"1=deinterlace%3Dno", true},
                                                {"1=vf%3Dhflip", true},
                                                {"1=vf%3Dno-such-filter", false}};
  for (const auto& [fields, decides] : cases) {
    const SetupResult result =
        setUp(withPreamble(), std::string("mpv-options\t") + fields + "\n", readVf);
    ASSERT_TRUE(result.ok) << fields;
    EXPECT_EQ(result.callerDecidesDeinterlacing, decides) << fields;
    if (!decides) {
      EXPECT_EQ(vf, "") << fields;
    }
  }
}

TEST(SetupPlayer, StallTimeoutIsTheHelpersOwn) {
  SetupResult byDefault = setUp(HelperArgs{}, "");
  EXPECT_EQ(byDefault.stallTimeoutSeconds, 10);
  SetupResult set = setUp(withPreamble(), "mpv-options\t1=stall-timeout%3D2.5\n");
  ASSERT_TRUE(set.ok);
  EXPECT_EQ(set.stallTimeoutSeconds, 2.5);
  EXPECT_EQ(set.output, "");  // never handed to the engine, which would refuse it
  EXPECT_EQ(set.applied.count("stall-timeout"), 0u);
  SetupResult none = setUp(withPreamble(), "mpv-options\t1=stall-timeout%3Dno\n");
  EXPECT_EQ(none.stallTimeoutSeconds, 0);
  SetupResult bad = setUp(withPreamble(), "mpv-options\t1=stall-timeout%3Dsoon\n");
  ASSERT_TRUE(bad.ok);
  EXPECT_EQ(bad.stallTimeoutSeconds, 10);
  EXPECT_NE(bad.output.find(R"("text":"rejected session option stall-timeout: )"), std::string::npos)
      << bad.output;
}
