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

TEST(ParseWholeInteger, ClampingTakesOnlyWholeDecimalIntegers) {
  int64_t value = 99;
  EXPECT_FALSE(parseWholeInteger("", value, IntegerOverflow::clamp));
  EXPECT_FALSE(parseWholeInteger("no", value, IntegerOverflow::clamp));
  EXPECT_FALSE(parseWholeInteger("3a", value, IntegerOverflow::clamp));
  EXPECT_FALSE(parseWholeInteger("3 ", value, IntegerOverflow::clamp));
  EXPECT_EQ(value, 99);
  EXPECT_TRUE(parseWholeInteger("3", value, IntegerOverflow::clamp));
  EXPECT_EQ(value, 3);
  EXPECT_TRUE(parseWholeInteger(" -7", value, IntegerOverflow::clamp));  // as strtoll reads it
  EXPECT_EQ(value, -7);
  EXPECT_TRUE(parseWholeInteger("+12", value, IntegerOverflow::clamp));
  EXPECT_EQ(value, 12);
  EXPECT_TRUE(parseWholeInteger("99999999999999999999", value, IntegerOverflow::clamp));
  EXPECT_EQ(value, INT64_MAX);  // clamped as strtoll clamps
}

TEST(ParseWholeInteger, RejectingOverflowTakesWholeDecimalIntegersOnly) {
  int64_t id = 99;
  EXPECT_TRUE(parseWholeInteger("3", id, IntegerOverflow::reject));
  EXPECT_EQ(id, 3);
  EXPECT_TRUE(parseWholeInteger("  -2", id, IntegerOverflow::reject));
  EXPECT_EQ(id, -2);
  EXPECT_TRUE(parseWholeInteger("+12", id, IntegerOverflow::reject));
  EXPECT_EQ(id, 12);
  id = 99;
  for (const char* text : {"no", "auto", "3x", "", " ", "3 ", "0x10", "99999999999999999999"}) {
    EXPECT_FALSE(parseWholeInteger(text, id, IntegerOverflow::reject)) << text;
  }
  EXPECT_FALSE(parseWholeInteger(nullptr, id, IntegerOverflow::reject));
  EXPECT_EQ(id, 99);  // untouched by failed reads
}
