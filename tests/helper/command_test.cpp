#include "command.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

using namespace frame_helper;

TEST(ParseCommandLine, SplitsAtTabsAndDecodesValues) {
  Command seek = parseCommandLine("seek\tseconds=12.5");
  EXPECT_EQ(seek.name, "seek");
  ASSERT_EQ(seek.fields.size(), 1u);
  EXPECT_EQ(seek.fields["seconds"], "12.5");

  Command load = parseCommandLine("load\turl=a%3Db%26c%3Dd\textra");
  EXPECT_EQ(load.fields.size(), 1u);
  EXPECT_EQ(load.fields["url"], "a=b&c=d");
}

TEST(ParseCommandLine, KeysAndFieldShapes) {
  EXPECT_EQ(parseCommandLine("x\tk=1\tk=2").fields.at("k"), "2");
  EXPECT_EQ(parseCommandLine("x\tk=a=b").fields.at("k"), "a=b");
  EXPECT_EQ(parseCommandLine("x\t=v").fields.at(""), "v");
  // Keys are not decoded and are case-sensitive.
  Command c = parseCommandLine("x\tk%41=1\tK=2\tk=3");
  EXPECT_EQ(c.fields.at("k%41"), "1");
  EXPECT_EQ(c.fields.at("K"), "2");
  EXPECT_EQ(c.fields.at("k"), "3");
}

TEST(ParseCommandLine, EmptyFieldsNamesAndCarriageReturns) {
  EXPECT_TRUE(parseCommandLine("quit").fields.empty());
  EXPECT_EQ(parseCommandLine("quit").name, "quit");
  Command leadingTab = parseCommandLine("\tk=v");
  EXPECT_EQ(leadingTab.name, "");
  EXPECT_EQ(leadingTab.fields.at("k"), "v");
  Command doubleTab = parseCommandLine("x\t\tk=v\t");
  EXPECT_EQ(doubleTab.fields.size(), 1u);
  EXPECT_EQ(parseCommandLine("").name, "");
  EXPECT_EQ(parseCommandLine("pause\tvalue=1\r").fields.at("value"), "1\r");
  EXPECT_EQ(parseCommandLine("pause\r").name, "pause\r");
  // The name is never decoded.
  EXPECT_EQ(parseCommandLine("se%65k").name, "se%65k");
}

TEST(PercentDecode, SequencesAndLiterals) {
  EXPECT_EQ(percentDecode("100%"), "100%");
  EXPECT_EQ(percentDecode("%zz"), "%zz");
  EXPECT_EQ(percentDecode("%4"), "%4");
  EXPECT_EQ(percentDecode("x%4"), "x%4");
  EXPECT_EQ(percentDecode("%"), "%");
  EXPECT_EQ(percentDecode("%41%42"), "AB");
  EXPECT_EQ(percentDecode("%4a%4A"), "JJ");
  EXPECT_EQ(percentDecode("a+b"), "a+b");
  EXPECT_EQ(percentDecode("%2541"), "%41");  // decoded once only
  EXPECT_EQ(percentDecode("%00"), std::string(1, '\0'));
  EXPECT_EQ(percentDecode("%ff%FE"), "\xff\xfe");  // need not be UTF-8
  EXPECT_EQ(percentDecode("%4g%41"), "%4gA");
}

TEST(CommandGetDouble, ParsesPrefixesAndFallsBack) {
  Command c = parseCommandLine(
      "x\ta=  3.5s\tb=abc\tc=\td=1e999\te=12abc\tf=0x10\tg=inf\th=nan\ti=-1e-5");
  EXPECT_DOUBLE_EQ(c.getDouble("a", 7), 3.5);
  EXPECT_DOUBLE_EQ(c.getDouble("b", 7), 7);
  EXPECT_DOUBLE_EQ(c.getDouble("c", 7), 7);
  EXPECT_DOUBLE_EQ(c.getDouble("d", 7), 7);
  EXPECT_DOUBLE_EQ(c.getDouble("e", 7), 12);
  EXPECT_DOUBLE_EQ(c.getDouble("f", 7), 16);
  EXPECT_TRUE(std::isinf(c.getDouble("g", 7)));
  EXPECT_TRUE(std::isnan(c.getDouble("h", 7)));
  EXPECT_DOUBLE_EQ(c.getDouble("i", 7), -1e-5);
  EXPECT_DOUBLE_EQ(c.getDouble("missing", -2), -2);
}

TEST(ReadInputLine, FramingKeepsCarriageReturnAndTakesUnterminatedLastLine) {
  std::string data = "first\r\n\nsecond\t" + std::string(100000, 'v') + "\nlast";
  data += std::string("\0x", 2);
  std::FILE* f = fmemopen(data.data(), data.size(), "r");
  ASSERT_NE(f, nullptr);
  std::string line;
  ASSERT_TRUE(readInputLine(f, line));
  EXPECT_EQ(line, "first\r");
  ASSERT_TRUE(readInputLine(f, line));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(readInputLine(f, line));
  EXPECT_EQ(line.size(), 7u + 100000u);
  ASSERT_TRUE(readInputLine(f, line));
  EXPECT_EQ(line, std::string("last\0x", 6));
  EXPECT_FALSE(readInputLine(f, line));
  std::fclose(f);
}
