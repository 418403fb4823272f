// helper_overhead: the helper's own work outside rendering, one phase at a
// time, for callgrind's instruction counts (repeatable where wall time on a
// shared machine is not).
//
//   valgrind --tool=callgrind --callgrind-out-file=OUT helper_overhead [COUNT]
//
// Each phase runs its operation COUNT times (default 200) between a zeroing
// of callgrind's counters and a dump named after the phase; the dumps' totals
// divided by COUNT are instructions per operation. Outside valgrind the
// client requests do nothing and the program just runs.
//
// The state is what a rich stream gives the helper: 8 audio and 16 subtitle
// tracks with titles and languages, 64 titled chapters, full statistics and
// an active recording. Commands run against a real, initialised, idle engine;
// the "engine" phase makes the same engine calls directly, so that
// handle minus engine is the helper's own part.
#include <mpv/client.h>
#include <stdio.h>
#include <valgrind/callgrind.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "../tests/support/mpv_node_builder.h"
#include "bench_engine.h"
#include "command.h"
#include "command_dispatch.h"
#include "event_loop.h"
#include "json_writer.h"
#include "snapshot_timing.h"

using namespace frame_helper;
using namespace frame_ring;

namespace {

// Keeps results alive so the compiler cannot drop the work.
volatile size_t gSink = 0;

template <typename Body>
void phase(const char* name, int count, Body body) {
  body();  // first-call effects (allocations that stay, lazy binding) out of the count
  CALLGRIND_ZERO_STATS;
  for (int i = 0; i < count; ++i) body();
  CALLGRIND_DUMP_STATS_AT(name);
}

void fillState(HelperState& s) {
  s.status = "playing";
  s.positionSeconds = 1234.5678;
  s.durationSeconds = 5400.25;
  s.volume = 0.8;
  s.videoWidth = 1920;
  s.videoHeight = 1080;
  s.stats.fps = 29.97;
  s.stats.videoBitrateBps = 4.5e6;
  s.stats.audioBitrateBps = 128000;
  s.stats.videoCodec = "h264";
  s.stats.audioCodec = "aac";
  s.stats.audioChannels = "stereo";
  s.stats.audioSampleRateHz = 48000;
  s.stats.container = "hls";
  s.stats.bufferedAheadSeconds = 12.5;
  s.stats.frameDropCount = 3;
  s.stats.decoderFrameDropCount = 1;
  s.streamUrl = "https://media.example.com/live/channel-42/master.m3u8?token=abcdef0123456789";
  const char* languages[] = {"eng", "deu", "fra", "spa", "ita", "jpn", "por", "nld"};
  for (int i = 0; i < 8; ++i) {
    s.media.audioTracks.push_back(
        {i + 1, std::string("Audio \"") + languages[i] + "\" 5.1", languages[i], i == 0, false});
  }
  for (int i = 0; i < 16; ++i) {
    s.media.subtitleTracks.push_back(
        {i + 1, "Subtitles " + std::to_string(i + 1) + (i % 2 ? " (SDH)" : ""), languages[i % 8],
         false, i == 15});
  }
  for (int i = 0; i < 64; ++i) {
    s.media.chapters.push_back(
        {i * 84.375, "Chapter " + std::to_string(i + 1) + ": \u00e9t\u00e9 \\ t"});
  }
  s.media.selectedAudioTrackId = 1;
  s.media.selectedSubtitleTrackId = 3;
  s.playbackSpeed = 1.25;
  s.aspectOverride = "16:9";
  s.recording.active = true;
  s.recording.targetPath = "/home/user/Videos/recording 2024-01-01.ts";
  s.recording.startedAt = "2024-01-01T12:00:00Z";
}

// The engine's "track-list" for the same 8 + 16 tracks plus one video track.
mpv_node trackListNode(MpvNodeBuilder& b) {
  std::vector<mpv_node> items;
  items.push_back(
      b.map({{"id", b.integer(1)}, {"type", b.string("video")}, {"codec", b.string("h264")}}));
  for (int i = 0; i < 24; ++i) {
    const bool audio = i < 8;
    items.push_back(b.map({{"id", b.integer(audio ? i + 1 : i - 7)},
                           {"type", b.string(audio ? "audio" : "sub")},
                           {"title", b.string("Track " + std::to_string(i))},
                           {"lang", b.string("eng")},
                           {"default", b.flag(i == 0)},
                           {"forced", b.flag(false)},
                           {"selected", b.flag(i == 0)},
                           {"codec", b.string(audio ? "aac" : "subrip")}}));
  }
  return b.array(std::move(items));
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 200;
  // Snapshot lines go where the helper's stdout would; the bench only counts.
  if (!freopen("/dev/null", "w", stdout)) return 1;

  static HelperState state;
  fillState(state);
  const std::string body = snapshotBodyLocked(state);
  std::fprintf(stderr, "snapshot line: %zu bytes\n", body.size());

  phase("snapshot-body", count, [&] { gSink = gSink + snapshotBodyLocked(state).size(); });
  phase("snapshot-write", count, [&] { emitLine(body); });
  phase("snapshot-emit", count, [&] {
    state.snapshotDirty = true;
    maybeEmitSnapshot(state, true);
  });
  phase("loop-turn-clean", count, [&] {
    state.snapshotDirty = false;
    maybeEmitSnapshot(state, false);
  });
  phase("loop-turn-not-due", count, [&] {
    // Dirty, same status, the last snapshot just now: the common case while
    // playing (the position changes with every frame).
    threads::MutexLock lock(state.stateMutex);
    state.snapshotDirty = true;
    state.lastSnapshotNs = 1'000'000'000;
    state.lastSnapshotStatus = state.status;
    gSink = gSink + takeSnapshotLocked(state, false, 1'100'000'000).has_value();
  });

  double position = 1.0;
  mpv_event_property timePos{"time-pos", MPV_FORMAT_DOUBLE, &position};
  mpv_event positionEvent{MPV_EVENT_PROPERTY_CHANGE, 0, 1, &timePos};
  phase("event-time-pos", count, [&] {
    threads::MutexLock lock(state.stateMutex);
    position += 0.04;
    handleEngineEventLocked(state, positionEvent);
  });
  MpvNodeBuilder builder;
  mpv_node tracks = trackListNode(builder);
  mpv_event_property trackList{"track-list", MPV_FORMAT_NODE, &tracks};
  mpv_event trackEvent{MPV_EVENT_PROPERTY_CHANGE, 0, 6, &trackList};
  phase("event-track-list", count, [&] {
    threads::MutexLock lock(state.stateMutex);
    handleEngineEventLocked(state, trackEvent);
  });

  const std::vector<std::string> lines = {
      "volume\tvalue=0.5",  "pause\tvalue=1", "speed\tvalue=1.25",
      "seek\tseconds=12.5", "sid\tvalue=-1",  "sub-color\tvalue=%23FFFF00",
  };
  phase("command-parse", count, [&] {
    for (const std::string& line : lines) gSink = gSink + parseCommandLine(line).fields.size();
  });

  // A real engine, initialised and idle, as the helper's commands meet it.
  mpv_handle* mpv = createBenchEngine({{"vo", "null"}, {"audio", "no"}, {"idle", "yes"},
                                       {"input-default-bindings", "no"}, {"osc", "no"},
                                       {"config", "no"}, {"load-scripts", "no"}});
  if (!mpv) return 1;
  state.mpv = mpv;
  std::vector<Command> commands;
  for (const std::string& line : lines) commands.push_back(parseCommandLine(line));
  phase("command-handle", count, [&] {
    for (const Command& command : commands) handleCommand(state, command);
  });
  phase("command-engine", count, [&] {
    double volume = 50;
    mpv_set_property(mpv, "volume", MPV_FORMAT_DOUBLE, &volume);
    int pause = 1;
    mpv_set_property(mpv, "pause", MPV_FORMAT_FLAG, &pause);
    double speed = 1.25;
    mpv_set_property(mpv, "speed", MPV_FORMAT_DOUBLE, &speed);
    const char* seek[] = {"seek", "12.500000", "absolute", nullptr};
    mpv_command(mpv, seek);
    mpv_set_property_string(mpv, "sid", "no");
    mpv_set_property_string(mpv, "sub-color", "#FFFF00");
  });
  mpv_terminate_destroy(mpv);
  std::fprintf(stderr, "done: %d operations a phase (sink %zu)\n", count,
               static_cast<size_t>(gSink));
  return 0;
}
