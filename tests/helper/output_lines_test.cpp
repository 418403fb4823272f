// The lines the application parses, byte for byte, through the same route the
// helper writes them: a render thread's report becomes "shm" or "fatal".
#include "output_lines.h"

#include <gtest/gtest.h>

#include <string>

using namespace frame_helper;

TEST(OutputLines, EveryProcessLineByteForByte) {
  // Linux's largest process id has seven digits, which "%.6g" would round.
  EXPECT_EQ(helloLine(4194304), R"({"event":"hello","pid":4194304,"protocolVersion":1})");
  EXPECT_EQ(byeLine(), R"({"event":"bye"})");

  RenderReport ring;
  ring.ringName = "/ompv-7-g12";
  ring.width = 8192;
  ring.height = 16;
  ring.generation = 12;
  ring.error = "ignored for a ring";
  EXPECT_EQ(renderReportLine(ring),
            R"({"event":"shm","name":"/ompv-7-g12","width":8192,"height":16,"generation":12})");
  ring.layout = frame_ring::PixelLayout::rgbaTopDown;
  EXPECT_EQ(renderReportLine(ring),
            R"({"event":"shm","name":"/ompv-7-g12","width":8192,"height":16,"generation":12,)"
            R"("layout":"rgba-top-down"})");

  RenderReport fatal;
  fatal.kind = RenderReport::Kind::fatal;
  fatal.ringName = "/ignored";
  fatal.error = "render init failed: \"x\"\n";
  EXPECT_EQ(renderReportLine(fatal),
            R"({"event":"fatal","error":"render init failed: \"x\"\n"})");
  EXPECT_EQ(fatalLine(""), R"({"event":"fatal","error":""})");

  EXPECT_EQ(rejectedSessionOptionLine("hwdec", "option not found"),
            R"({"event":"log","level":"warn","prefix":"orvanel",)"
            R"("text":"rejected session option hwdec: option not found"})");
  EXPECT_EQ(probeUsableLine("2.1", "egl"),
            R"({"protocol":1,"usable":true,"libmpv":"2.1","renderApi":"egl"})");
  EXPECT_EQ(probeUnusableLine("gl-context-create-failed", ""),
            R"({"protocol":1,"usable":false,"reason":"gl-context-create-failed"})");
}
