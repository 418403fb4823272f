// The node readers and the integer rule, with both players' parameters.
#include "node_readers.h"

#include <gtest/gtest.h>

#include "mpv_node_builder.h"
#include "tracks.h"

using namespace engine;

TEST(ReadNodeString, GivesTextNumbersAndNothingElse) {
  MpvNodeBuilder b;
  EXPECT_EQ(readNodeString(b.string("eng")), "eng");
  EXPECT_EQ(readNodeString(b.nullString()), "");
  EXPECT_EQ(readNodeString(b.number(2.5)), "2.5");
  EXPECT_EQ(readNodeString(b.number(1000000)), "1e+06");
  EXPECT_EQ(readNodeString(b.integer(-42)), "-42");
  EXPECT_EQ(readNodeString(b.flag(true)), "");
  EXPECT_EQ(readNodeString(b.array({})), "");
}

TEST(ReadNodeFlag, AcceptsFlagsAndYesTrueOneTexts) {
  MpvNodeBuilder b;
  EXPECT_TRUE(readNodeFlag(b.flag(true)));
  EXPECT_FALSE(readNodeFlag(b.flag(false)));
  EXPECT_TRUE(readNodeFlag(b.string("YES")));
  EXPECT_TRUE(readNodeFlag(b.string("True")));
  EXPECT_TRUE(readNodeFlag(b.string("1")));
  EXPECT_FALSE(readNodeFlag(b.string("on")));
  EXPECT_FALSE(readNodeFlag(b.string(" yes")));
  EXPECT_FALSE(readNodeFlag(b.nullString()));
  EXPECT_FALSE(readNodeFlag(b.integer(1)));  // integers are not flags
}

// Whole decimal integers as strtoll reads them; beyond 64 bits clamped as
// strtoll clamps, or refused. A refused text leaves the value untouched.
TEST(ParseWholeInteger, WholeDecimalIntegersClampedOrRefusedBeyond64Bits) {
  const struct {
    const char* text;
    bool taken;
    int64_t value;       // when taken
    bool takenRejecting;  // with IntegerOverflow::reject
  } kCases[] = {
      {"3", true, 3, true},       {" -7", true, -7, true},    {"  -2", true, -2, true},
      {"+12", true, 12, true},    {"", false, 0, false},      {" ", false, 0, false},
      {"no", false, 0, false},    {"auto", false, 0, false},  {"3a", false, 0, false},
      {"3x", false, 0, false},    {"3 ", false, 0, false},    {"0x10", false, 0, false},
      {"99999999999999999999", true, INT64_MAX, false},
  };
  for (const auto& c : kCases) {
    for (IntegerOverflow overflow : {IntegerOverflow::clamp, IntegerOverflow::reject}) {
      const bool taken = overflow == IntegerOverflow::clamp ? c.taken : c.takenRejecting;
      int64_t value = 99;
      EXPECT_EQ(parseWholeInteger(c.text, value, overflow), taken) << c.text;
      EXPECT_EQ(value, taken ? c.value : 99) << c.text;
    }
  }
  int64_t value = 99;
  EXPECT_FALSE(parseWholeInteger(nullptr, value, IntegerOverflow::reject));
  EXPECT_EQ(value, 99);
}
