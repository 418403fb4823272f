// Waiting for data, as both players keep and show it, and the bound on a
// wait that makes no progress: a source that delivers nothing for that long
// has stopped (a live channel gone off the air, a server that hangs).
//
// The engine pauses playback while its cache is empty ("paused-for-cache")
// and reports how far it has refilled ("cache-buffering-state", percent of
// what it waits for). Neither changes the status: a wait is shown beside it.
// The engine itself never gives up on a silent UDP source, and its
// network-timeout ends one as an ordinary end of file, so the players keep a
// bound of their own, which the application sets among its engine options
// under kStallTimeoutOption; the players take that entry themselves.
#pragma once

#include <mpv/client.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "playback_rules.h"
#include "property_table.h"

namespace engine {

inline constexpr const char* kStallTimeoutOption = "stall-timeout";
inline constexpr double kDefaultStallTimeoutSeconds = 10;

struct Buffering {
  bool active = false;   // "paused-for-cache": playback waits for data
  int64_t percent = -1;  // "cache-buffering-state"; -1 unknown
  // Monotonic time of the wait's start or last progress, stamped by the next
  // stall check; 0 until then.
  int64_t progressNs = 0;
  // The bound ended this load: the engine was told to stop it, and that
  // stop is no end of its own.
  bool stalled = false;
};

// Reads the option's value: seconds above 0, or "no" / "0" for no bound
// (0). False for anything else, `seconds` unchanged.
bool parseStallTimeout(std::string_view text, double& seconds);

// "Stream stopped: no data for 10 s."
std::string streamStoppedText(double timeoutSeconds);

// True once a wait has made no progress for `timeoutNs` (never with 0).
// Called after each engine event and at least every tenth of a second.
bool stallExpired(Buffering& buffering, int64_t nowNs, int64_t timeoutNs);

// The load ends in error; the player then stops the engine's file.
template <typename Status, typename Word>
void applyStreamStopped(LoadState<Status> load, const StatusRules<Word>& rules,
                        Buffering& buffering, double timeoutSeconds) {
  buffering = Buffering{};
  buffering.stalled = true;
  load.status = rules.error;
  load.error = streamStoppedText(timeoutSeconds);
  load.errorFromEngine = false;
}

// A wait for data that made no progress for the bound ends the load: true
// when it did, and the player then stops the engine's file.
template <typename Status, typename Word>
bool expireStalledLoad(LoadState<Status> load, const StatusRules<Word>& rules, Buffering& buffering,
                       double timeoutSeconds, int64_t nowNs) {
  const auto timeoutNs = static_cast<int64_t>(timeoutSeconds * 1e9);
  if (!stallExpired(buffering, nowNs, timeoutNs)) return false;
  applyStreamStopped(load, rules, buffering, timeoutSeconds);
  return true;
}

// The end of a file the bound stopped: it keeps the error.
inline bool isEndOfStalledLoad(const Buffering& buffering, const mpv_event_end_file* endFile) {
  return buffering.stalled && endFile != nullptr && endFile->reason == MPV_END_FILE_REASON_STOP;
}

// The end of a file: the rules' end, but for the end of a load the bound
// stopped.
template <typename Status, typename Word>
void applyEndFileEvent(LoadState<Status> load, const StatusRules<Word>& rules,
                       const Buffering& buffering, const mpv_event& event, bool running) {
  const auto* endFile = static_cast<const mpv_event_end_file*>(event.data);
  if (!isEndOfStalledLoad(buffering, endFile)) applyEndFile(load, rules, endFile, running);
}

template <auto... Path>
void clearBuffering(RecordAt<Path...>& record) {
  fieldAt<Path...>(record) = Buffering{};
}

// The two rows, reaching a Buffering through `Path`. A change of either value
// is progress: the stall clock starts again (the same value again is none).
// A new file starts unknown.
template <auto... Path>
constexpr std::array<PropertyRow<RecordAt<Path...>>, 2> bufferingRows() {
  using Record = RecordAt<Path...>;
  return {{
      {"paused-for-cache", MPV_FORMAT_FLAG,
       [](Record& r, const void* d) {
         Buffering& b = fieldAt<Path...>(r);
         if (b.active != flagValue(d)) b.progressNs = 0;
         b.active = flagValue(d);
       },
       [](Record& r) {
         Buffering& b = fieldAt<Path...>(r);
         b.active = false;
         b.percent = -1;
       },
       &clearBuffering<Path...>},
      {"cache-buffering-state", MPV_FORMAT_INT64,
       [](Record& r, const void* d) {
         Buffering& b = fieldAt<Path...>(r);
         if (b.percent != int64Value(d)) b.progressNs = 0;
         b.percent = int64Value(d);
       },
       [](Record& r) { fieldAt<Path...>(r).percent = -1; }, nullptr},
  }};
}

// What a snapshot shows: "buffering" always, "bufferingPercent" while
// waiting with a known fill. The engine reports the wait before the fill
// that goes with it; a full cache is never waited for, so 100 is the fill
// from before the wait.
template <typename Flag, typename Number>
void forEachBufferingKey(const Buffering& b, Flag flag, Number number) {
  flag("buffering", b.active);
  if (b.active && b.percent >= 0 && b.percent < 100) number("bufferingPercent", double(b.percent));
}

}  // namespace engine
