// ring_writer: a frame ring writer for the reader's tests, driven line by line
// on standard input; every command is answered by one line on standard output.
//
//   create NAME WIDTH HEIGHT GENERATION [LAYOUT]
//                                        -> "ok" | "failed"; LAYOUT is the pixel
//                                           layout word (default 0)
//   publish SEQ                          -> "ok"   one frame with SEQ's pattern
//   heartbeat                            -> "ok"
//   stream FIRSTSEQ                      -> "streaming", then publishes FIRSTSEQ,
//                                           FIRSTSEQ + 1, ... with a heartbeat
//                                           after each, as fast as it can
//   stream-in-place FIRSTSEQ             -> the same, but each frame is written
//                                           inside its slot between beginFrame
//                                           and finishFrame, rows from the last
//                                           upward, as the helper's software
//                                           render path has the engine do
//   stop                                 -> "stopped COUNT LASTSEQ"
//   close                                -> "ok"   unmaps and unlinks
//
// Any command first ends a running stream. The end of input ends the stream,
// closes the ring and exits, so a test that dies leaves no segment behind.
//
// Frame pattern: 32-bit word i of frame SEQ is (uint32(SEQ) * 0x9E3779B1 + i)
// mod 2^32, so a copy that mixes two frames or slots cannot pass as either.
//
// Threads: main (commands) and one stream thread at a time; the stream thread
// alone touches the ring while it runs, main joins it before any other use.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "shm_ring.h"

namespace {

using frame_ring::ShmRing;

void fillPattern(std::vector<uint32_t>& words, uint64_t seq) {
  const uint32_t base = static_cast<uint32_t>(seq) * 0x9E3779B1u;
  for (size_t i = 0; i < words.size(); ++i) words[i] = base + static_cast<uint32_t>(i);
}

void reply(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

struct Stream {
  std::thread thread;
  std::atomic<bool> stop{false};
  uint64_t count = 0;    // written by the stream thread, read after join
  uint64_t lastSeq = 0;  // likewise
};

// One frame written where the reader may be copying it: a word at a time,
// the rows from the last one upward.
void writeInPlace(ShmRing& ring, uint64_t seq) {
  auto* words = reinterpret_cast<uint32_t*>(ring.beginFrame(seq));
  const uint32_t base = static_cast<uint32_t>(seq) * 0x9E3779B1u;
  const size_t rowWords = ring.header->width;
  for (size_t row = ring.header->height; row-- > 0;) {
    for (size_t i = row * rowWords; i < (row + 1) * rowWords; ++i) {
      __atomic_store_n(&words[i], base + static_cast<uint32_t>(i), __ATOMIC_RELAXED);
    }
  }
  ring.finishFrame(seq);
}

void streamFrames(ShmRing& ring, Stream& stream, uint64_t firstSeq, bool inPlace) {
  std::vector<uint32_t> words(inPlace ? 0 : ring.header->frameBytes / 4);
  for (uint64_t seq = firstSeq; !stream.stop.load(std::memory_order_relaxed); ++seq) {
    if (inPlace) {
      writeInPlace(ring, seq);
    } else {
      fillPattern(words, seq);
      ring.publish(words.data(), seq);
    }
    ring.storeHeartbeat(frame_ring::monotonicNowNs());
    ++stream.count;
    stream.lastSeq = seq;
  }
}

// Ends a running stream; true when one was running.
bool stopStream(Stream& stream) {
  if (!stream.thread.joinable()) return false;
  stream.stop = true;
  stream.thread.join();
  return true;
}

}  // namespace

int main() {
  ShmRing ring;
  Stream stream;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    const bool wasStreaming = stopStream(stream);
    if (command == "stop") {
      reply(wasStreaming
                ? "stopped " + std::to_string(stream.count) + " " + std::to_string(stream.lastSeq)
                : "stopped 0 0");
    } else if (command == "create") {
      std::string name;
      uint32_t width = 0, height = 0, generation = 0, layout = 0;
      in >> name >> width >> height >> generation;
      const bool parsed = static_cast<bool>(in);
      in >> layout;
      // A word this writer does not name still goes into the header: readers
      // must refuse it.
      reply(parsed && ring.create(name, width, height, generation,
                                  static_cast<frame_ring::PixelLayout>(layout))
                ? "ok"
                : "failed");
    } else if (command == "publish" && ring.isMapped()) {
      uint64_t seq = 0;
      in >> seq;
      std::vector<uint32_t> words(ring.header->frameBytes / 4);
      fillPattern(words, seq);
      ring.publish(words.data(), seq);
      reply("ok");
    } else if (command == "heartbeat" && ring.isMapped()) {
      ring.storeHeartbeat(frame_ring::monotonicNowNs());
      reply("ok");
    } else if ((command == "stream" || command == "stream-in-place") && ring.isMapped()) {
      uint64_t firstSeq = 1;
      in >> firstSeq;
      stream.stop = false;
      stream.count = 0;
      stream.lastSeq = 0;
      stream.thread = std::thread(streamFrames, std::ref(ring), std::ref(stream), firstSeq,
                                  command == "stream-in-place");
      reply("streaming");
    } else if (command == "close") {
      ring.close();
      reply("ok");
    } else {
      reply("error " + line);
    }
  }
  stopStream(stream);
  ring.close();
  return 0;
}
