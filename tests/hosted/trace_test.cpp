#include "trace.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "session.h"

using namespace hosted_mpv;

TEST(NormalizeEnvValue, LowercasesWithoutTrimming) {
  EXPECT_EQ(normalizeEnvValue(nullptr), "");
  EXPECT_EQ(normalizeEnvValue(""), "");
  EXPECT_EQ(normalizeEnvValue("SW"), "sw");
  EXPECT_EQ(normalizeEnvValue(" Sw"), " sw");
}

TEST(Environment, RendererChoiceAndTraceSwitch) {
  setenv("ORVANEL_HOSTED_MPV_RENDERER", "Sw", 1);
  EXPECT_TRUE(isSoftwareRendererRequested());
  setenv("ORVANEL_HOSTED_MPV_RENDERER", " sw", 1);
  EXPECT_FALSE(isSoftwareRendererRequested());
  unsetenv("ORVANEL_HOSTED_MPV_RENDERER");
  EXPECT_FALSE(isSoftwareRendererRequested());

  unsetenv("ORVANEL_TRACE_HOSTED_MPV");
  EXPECT_FALSE(isHostedMpvTraceEnabled());
  for (const char* off : {"", "0"}) {
    setenv("ORVANEL_TRACE_HOSTED_MPV", off, 1);
    EXPECT_FALSE(isHostedMpvTraceEnabled()) << off;
  }
  for (const char* on : {"00", "false", "no", "1"}) {
    setenv("ORVANEL_TRACE_HOSTED_MPV", on, 1);
    EXPECT_TRUE(isHostedMpvTraceEnabled()) << on;
  }
}

// A session traces by the switch it was created with, whatever the
// environment says later; without a session the environment decides.
TEST(TraceSession, WritesOnlyWhenEnabled) {
  Session session;
  session.id = "hosted-mpv-9";
  session.traceEnabled = true;
  setenv("ORVANEL_TRACE_HOSTED_MPV", "0", 1);
  testing::internal::CaptureStderr();
  traceSession(&session, "hello");
  traceSession(nullptr, "hidden without a session");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[hosted-mpv][hosted-mpv-9][trace] hello\n");
  setenv("ORVANEL_TRACE_HOSTED_MPV", "1", 1);
  session.traceEnabled = false;
  testing::internal::CaptureStderr();
  traceSession(&session, "hidden");
  traceSession(nullptr, "no session");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[hosted-mpv][unknown][trace] no session\n");
  unsetenv("ORVANEL_TRACE_HOSTED_MPV");
}
