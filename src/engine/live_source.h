// Live sources: what the engine says of a file's source (whether it has an
// end it knows of), and the outage of a live HLS source.
//
// The engine grows "duration" with its cache for a stream it can neither seek
// in nor size (a live HLS window, a radio over HTTP, UDP): that is no
// duration, so such a source shows none. A live HLS source whose server goes
// away is given up by libavformat on the first playlist reload that fails:
// its demuxer ends, and the engine reports the end of the file as for any
// other. For such a source the players reload the URL instead, with a bounded
// back-off, and show the wait, until a reload plays again or the stall bound
// ends the load (docs/playback-rules.md, "Live outages").
#pragma once

#include <mpv/client.h>

#include <array>
#include <cstdint>
#include <string>

#include "loadfile.h"
#include "property_table.h"

namespace engine {

// The engine's facts of the file's source; each new file starts unknown.
struct SourceFacts {
  double duration = -1;    // "duration" as the engine reports it; -1 none
  int seekable = -1;       // "seekable": -1 until reported
  bool sizeKnown = false;  // "file-size" has a value
  bool hls = false;        // "file-format" is "hls"
};

// No end the engine knows of: it cannot seek in the source, nor does it know
// its size. An HLS playlist with an end (ENDLIST) is seekable.
inline bool isLiveSource(const SourceFacts& facts) {
  return facts.seekable == 0 && !facts.sizeKnown;
}

// The duration a snapshot shows: none until the engine said whether it can
// seek (the facts arrive together after the file loaded), none for a live
// source.
inline double shownDuration(const SourceFacts& facts) {
  return facts.seekable < 0 || isLiveSource(facts) ? -1 : facts.duration;
}

inline bool reloadsAfterOutage(const SourceFacts& facts) {
  return facts.hls && isLiveSource(facts);
}

// The load a reload repeats: its URL and per-file options.
struct LoadArgs {
  std::string url;
  LoadOptions options;
};

struct LiveOutage {
  enum class Phase {
    none,
    waiting,  // the source went away: reloads go out until one plays
    gaveUp,   // the bound ended the load: the events of the stopped reload change nothing
  };
  Phase phase = Phase::none;
  bool reloading = false;  // a reload was sent and has not failed yet
  int reloads = 0;         // sent in this outage
  int64_t lastReloadNs = 0;
  // The bound's clock over the whole outage: time waited (not paused by the
  // user) and the last check; 0 before the first.
  int64_t waitedNs = 0;
  int64_t checkedNs = 0;
  std::string failure;  // the engine's words on the last reload that failed
};

// What a player keeps of its source, under the lock of its playback record.
struct LiveSource {
  SourceFacts facts;
  LiveOutage outage;
  LoadArgs load;  // the last load asked for
};

// The pause before reload number `reloads` (0-based) of an outage: at once,
// then a quarter, a half and then one second between reloads, so that a
// server that comes back plays within about a second and a half.
int64_t reloadDelayNs(int reloads);

// "Stream stopped: no data for 10 s (tcp: Connection to ... refused)."
std::string outageStoppedText(double timeoutSeconds, const std::string& failure);

// Advances the outage's clock to `nowNs`: true once it waited `timeoutNs`
// (never with 0). A user pause does not count.
bool outageExpired(LiveOutage& outage, bool userPaused, int64_t nowNs, int64_t timeoutNs);

// What the turn's end leaves for the player to send the engine.
enum class WaitStep { none, reload, stop };

// Queues "loadfile <url> replace" with the load's options. Does not wait for
// the engine: may be called under the player's lock.
int queueReload(mpv_handle* mpv, const LoadArgs& load);

// Writes the shown duration after any fact changed.
template <typename FactsAt, typename DurationAt>
void showDuration(typename FactsAt::Record& record) {
  DurationAt::in(record) = shownDuration(FactsAt::in(record));
}

// The "duration" row: the engine's value becomes a fact; the shown duration
// follows. A duration that becomes unavailable keeps the last.
template <typename FactsAt, typename DurationAt>
constexpr PropertyRow<typename FactsAt::Record> durationRow() {
  using Record = typename FactsAt::Record;
  return {"duration", MPV_FORMAT_DOUBLE,
          [](Record& r, const void* d) {
            FactsAt::in(r).duration = doubleValue(d);
            showDuration<FactsAt, DurationAt>(r);
          },
          nullptr,
          [](Record& r) {
            FactsAt::in(r) = SourceFacts{};
            showDuration<FactsAt, DurationAt>(r);
          }};
}

// The rows of the other facts.
template <typename FactsAt, typename DurationAt>
constexpr std::array<PropertyRow<typename FactsAt::Record>, 3> sourceRows() {
  using Record = typename FactsAt::Record;
  return {{
      {"seekable", MPV_FORMAT_FLAG,
       [](Record& r, const void* d) {
         FactsAt::in(r).seekable = flagValue(d) ? 1 : 0;
         showDuration<FactsAt, DurationAt>(r);
       },
       nullptr, nullptr},
      {"file-size", MPV_FORMAT_INT64,
       [](Record& r, const void*) {
         FactsAt::in(r).sizeKnown = true;
         showDuration<FactsAt, DurationAt>(r);
       },
       nullptr, nullptr},
      {"file-format", MPV_FORMAT_STRING,
       [](Record& r, const void* d) { FactsAt::in(r).hls = stringValue(d) == "hls"; }, nullptr,
       nullptr},
  }};
}

}  // namespace engine
