#include <gtest/gtest.h>

#include "event_thread.h"
#include "mpv_node_builder.h"

using namespace hosted_mpv;

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

TEST(ParseIntegerString, TakesOnlyWholeDecimalIntegers) {
  int64_t value = 99;
  EXPECT_FALSE(parseIntegerString("", value));
  EXPECT_FALSE(parseIntegerString("no", value));
  EXPECT_FALSE(parseIntegerString("3a", value));
  EXPECT_FALSE(parseIntegerString("3 ", value));
  EXPECT_EQ(value, 99);
  EXPECT_TRUE(parseIntegerString("3", value));
  EXPECT_EQ(value, 3);
  EXPECT_TRUE(parseIntegerString(" -7", value));  // as strtoll reads it
  EXPECT_EQ(value, -7);
  EXPECT_TRUE(parseIntegerString("+12", value));
  EXPECT_EQ(value, 12);
  EXPECT_TRUE(parseIntegerString("99999999999999999999", value));
  EXPECT_EQ(value, INT64_MAX);  // clamped as strtoll clamps
}
