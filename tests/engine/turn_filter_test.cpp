// The turn the software paths give the engine's filter chain.
#include "turn_filter.h"

#include <gtest/gtest.h>

using namespace engine;

TEST(TurnFilter, AddsTheCallersRotationAndRoundsToAQuarterTurn) {
  struct Case {
    int64_t stream, requested;
    int turn;
    const char* graph;
  };
  for (const Case& c : {Case{0, 0, 0, ""}, Case{90, 0, 90, "transpose=clock"},
                        Case{270, 90, 0, ""}, Case{180, 270, 90, "transpose=clock"},
                        Case{270, -1, 0, ""},  // video-rotate=no
                        Case{180, 0, 180, "hflip,vflip"}, Case{270, 0, 270, "transpose=cclock"},
                        Case{44, 0, 0, ""}, Case{45, 0, 90, "transpose=clock"},
                        Case{359, 0, 0, ""}, Case{314, 0, 270, "transpose=cclock"},
                        Case{-90, 0, 270, "transpose=cclock"}, Case{450, 360, 90, "transpose=clock"}}) {
    EXPECT_EQ(effectiveTurn(c.stream, c.requested), c.turn) << c.stream << " + " << c.requested;
    EXPECT_EQ(turnFilterGraph(effectiveTurn(c.stream, c.requested)), c.graph) << c.stream;
  }
}
