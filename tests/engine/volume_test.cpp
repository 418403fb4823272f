#include "volume.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(EngineVolume, ScaledAndLimitedNotANumberKept) {
  const std::pair<double, double> cases[] = {
      {0.5, 50}, {7, 100}, {-1, 0}, {0, 0}, {1, 100}, {-std::numeric_limits<double>::infinity(), 0},
  };
  for (const auto& [volume, expected] : cases) {
    EXPECT_DOUBLE_EQ(engine::engineVolume(volume), expected) << volume;
  }
  EXPECT_TRUE(std::isnan(engine::engineVolume(std::numeric_limits<double>::quiet_NaN())));
}
