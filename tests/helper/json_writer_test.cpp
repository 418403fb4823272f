#include "json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace frame_helper;

TEST(JsonEscape, ControlBytesQuotesAndBackslashes) {
  EXPECT_EQ(jsonEscape("a\tb\nc\rd"), "a\\tb\\nc\\rd");
  EXPECT_EQ(jsonEscape("say \"hi\""), "say \\\"hi\\\"");
  EXPECT_EQ(jsonEscape("C:\\dir"), "C:\\\\dir");
  EXPECT_EQ(jsonEscape(std::string("\x01\x08\x0c\x7f", 4)), "\\u0001\\u0008\\u000c\x7f");
  EXPECT_EQ(jsonEscape(std::string("\x1b[0m", 4)), "\\u001b[0m");
  EXPECT_EQ(jsonEscape(std::string("a\0b", 3)), "a\\u0000b");
  // Both sides of the last byte that must be escaped.
  EXPECT_EQ(jsonEscape(std::string("\x1f\x20", 2)), "\\u001f ");
}

TEST(JsonEscape, Utf8AndHighBytesPassUnchanged) {
  EXPECT_EQ(jsonEscape("\xc3\xbc"), "\xc3\xbc");              // ü
  EXPECT_EQ(jsonEscape("\xe2\x82\xac"), "\xe2\x82\xac");      // €
  EXPECT_EQ(jsonEscape("\xff\xfe invalid"), "\xff\xfe invalid");  // not checked
}

TEST(JsonWriter, BuildsObjectsInCallOrder) {
  EXPECT_EQ(JsonWriter().finish(), "{}");
  JsonWriter w;
  w.str("event", "shm").str("name", "/ompv-g1").num("width", 1280).num("height", 720).num("generation", 1);
  EXPECT_EQ(w.finish(), R"({"event":"shm","name":"/ompv-g1","width":1280,"height":720,"generation":1})");

  JsonWriter raw;
  raw.str("k\"ey", "v\\al");
  raw.writeKey("list").buffer += "[1,2]";
  raw.boolean("t", true).boolean("f", false).null("n").raw("o", "{}");
  EXPECT_EQ(raw.finish(), R"({"k\"ey":"v\\al","list":[1,2],"t":true,"f":false,"n":null,"o":{}})");
}

TEST(JsonWriter, NumbersMatchPrintfAcrossMagnitudes) {
  // The writer does not call printf; its text must still be printf's "%.6g"
  // byte for byte: rounding ties, exponent switches, signs, tiny and huge values.
  std::vector<double> values = {0.0,
                                -0.0,
                                5e-324,
                                2.2250738585072014e-308,
                                1.7976931348623157e308,
                                0.5,
                                0.05,
                                1e-5,
                                1e-4,
                                9.9999949e-5,
                                123456.5,
                                1234565,
                                999999.5,
                                9999995,
                                0.15,
                                2.675,
                                1e21,
                                29.97,
                                -1234.5678,
                                48000,
                                5400.25,
                                84.375,
                                1280,
                                1234567,
                                2500000,
                                -1,
                                999999,
                                0.1 + 0.2,
                                1e-7};
  uint64_t bits = 0x9E3779B97F4A7C15u;
  for (int i = 0; i < 20000; ++i) {
    bits ^= bits << 13;
    bits ^= bits >> 7;
    bits ^= bits << 17;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (std::isfinite(v)) values.push_back(v);
    // Also values a snapshot holds: positions, rates and sizes.
    values.push_back(static_cast<double>(bits % 100000000) /
                     static_cast<double>((bits >> 40) % 1000 + 1));
  }
  for (double v : values) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.6g", v);
    ASSERT_EQ(formatNumber(v), expected) << "value " << std::hexfloat << v;
    ASSERT_EQ(JsonWriter().num("n", v).finish(), std::string("{\"n\":") + expected + "}");
  }
}

TEST(JsonWriter, NonFiniteNumbersBecomeNull) {
  EXPECT_EQ(JsonWriter().num("n", std::numeric_limits<double>::quiet_NaN()).finish(), R"({"n":null})");
  EXPECT_EQ(JsonWriter().num("n", std::numeric_limits<double>::infinity()).finish(), R"({"n":null})");
  EXPECT_EQ(JsonWriter().num("n", -std::numeric_limits<double>::infinity()).finish(), R"({"n":null})");
}

TEST(JsonWriter, IntegersAreExact) {
  // Linux process ids reach 4194304, which "%.6g" would round.
  EXPECT_EQ(JsonWriter().integer("pid", 4194304).finish(), R"({"pid":4194304})");
  EXPECT_EQ(JsonWriter().integer("pid", 1234567).finish(), R"({"pid":1234567})");
  EXPECT_EQ(JsonWriter().integer("n", -9007199254740993LL).finish(), R"({"n":-9007199254740993})");
}

// Redirects stdout into a pipe for the life of the object.
class CapturedStdout {
 public:
  CapturedStdout() {
    std::fflush(stdout);
    EXPECT_EQ(pipe(fds_), 0);
    saved_ = dup(STDOUT_FILENO);
    dup2(fds_[1], STDOUT_FILENO);
    close(fds_[1]);
  }
  // Restores stdout and returns everything written meanwhile.
  std::string finish() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    std::string out;
    char buf[65536];
    ssize_t n;
    while ((n = read(fds_[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds_[0]);
    return out;
  }

 private:
  int fds_[2] = {-1, -1};
  int saved_ = -1;
};

TEST(EmitLine, ConcurrentWritersGiveWholeLines) {
  // Long lines from several threads: each must come out whole, once, with
  // exactly one line feed. Kept below the pipe's capacity so nobody blocks.
  constexpr int kThreads = 4;
  constexpr int kLinesPerThread = 50;
  const std::string body(200, 'x');
  CapturedStdout capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &body] {
      for (int i = 0; i < kLinesPerThread; ++i) {
        emitLine(JsonWriter().num("thread", t).num("i", i).str("body", body).finish());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string out = capture.finish();

  std::vector<int> seen(kThreads * kLinesPerThread, 0);
  size_t start = 0;
  int lines = 0;
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "last line has no line feed";
    const std::string line = out.substr(start, end - start);
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "{\"thread\":%d,\"i\":%d,", &t, &i), 2) << line;
    ASSERT_EQ(line, JsonWriter().num("thread", t).num("i", i).str("body", body).finish());
    ++seen[t * kLinesPerThread + i];
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, kThreads * kLinesPerThread);
  for (int count : seen) EXPECT_EQ(count, 1);
}
