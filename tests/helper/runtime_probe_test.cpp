#include "runtime_probe.h"

#include <gtest/gtest.h>
#include <mpv/client.h>
#include <unistd.h>

#include <string>

using namespace frame_helper;

namespace {

// Only this process's ring: probes of other tests may run meanwhile.
bool probeRingLeft() {
  return access(("/dev/shm/ompv-fc-runtime-probe-" + std::to_string(getpid())).c_str(), F_OK) == 0;
}

}  // namespace

TEST(RuntimeProbe, VersionTextIsMajorPointMinor) {
  EXPECT_EQ(clientApiVersionText((2ul << 16) | 3), "2.3");
  EXPECT_EQ(clientApiVersionText((1ul << 16) | 109), "1.109");
  EXPECT_EQ(clientApiVersionText(mpv_client_api_version()), libmpvClientApiVersion());
}

TEST(RuntimeProbe, UnusableVerdictsLeaveOutAnEmptyDetail) {
  ::testing::internal::CaptureStdout();
  runtimeProbeFailure("shared-memory-create-failed", "");
  runtimeProbeFailure("gl-context-create-failed", "no accelerated CGL pixel format");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "{\"protocol\":1,\"usable\":false,\"reason\":\"shared-memory-create-failed\"}\n"
            "{\"protocol\":1,\"usable\":false,\"reason\":\"gl-context-create-failed\","
            "\"detail\":\"no accelerated CGL pixel format\"}\n");
}

// In process as well as in tests/js, so that the sanitizer builds see every
// step of a usable probe and what it releases.
TEST(RuntimeProbeEgl, UsableOnThisMachineAndLeavesNoRing) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = runRuntimeProbe();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "{\"protocol\":1,\"usable\":true,\"libmpv\":\"" + libmpvClientApiVersion() +
                "\",\"renderApi\":\"egl\"}\n");
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(probeRingLeft());
}
