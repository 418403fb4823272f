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
  // The stall bound's clock: time spent waiting (not paused by the user)
  // since data last arrived. It runs on over flips of `active`: a wait that
  // ends for a few stale frames and comes back is one wait.
  int64_t waitedNs = 0;
  int64_t checkedNs = 0;       // the last stall check; 0 before the first
  bool waitedAtCheck = false;  // waiting, not paused, at that check
  // Data arrived since the last check: bytes read ("cache-speed" above 0)
  // or demuxed packets past the highest timestamp seen so far.
  bool dataArrived = false;
  double cacheEnd = -1;  // "demuxer-cache-time", the highest seen; -1 none
  // The bound ended this load: the engine was told to stop it, and that
  // stop is no end of its own.
  bool stalled = false;
};

// Reads the option's value: a plain decimal number of seconds above 0 and at
// most kMaxStallTimeoutSeconds, or "no" / "0" for no bound (0). Anything else
// (blanks, signs, exponents, hexadecimal) is refused: false, `seconds`
// unchanged, and `problem` says why, naming the option.
inline constexpr double kMaxStallTimeoutSeconds = 86400;
bool parseStallTimeout(std::string_view text, double& seconds, std::string& problem);

// "Stream stopped: no data for 10 s."
std::string streamStoppedText(double timeoutSeconds);

// Advances the stall clock to `nowNs` and says whether the wait has gone
// `timeoutNs` without data (never with 0). A user pause does not count; data
// starts the wait over. Called after each engine event and at least every
// tenth of a second.
bool stallExpired(Buffering& buffering, bool userPaused, int64_t nowNs, int64_t timeoutNs);

// A seek starts a fresh wait: the old position's data says nothing of the new.
void noteSeek(Buffering& buffering);

// The load ends in error; the player then stops the engine's file.
inline void applyStreamStopped(LoadState load, Buffering& buffering, double timeoutSeconds) {
  buffering = Buffering{};
  buffering.stalled = true;
  load.status = PlaybackStatus::error;
  load.error = streamStoppedText(timeoutSeconds);
  load.errorFromEngine = false;
}

// A wait for data that made no progress for the bound ends the load: true
// when it did, and the player then queues a stop of the engine's file.
inline bool expireStalledLoad(LoadState load, Buffering& buffering, double timeoutSeconds,
                              int64_t nowNs) {
  const auto timeoutNs = static_cast<int64_t>(timeoutSeconds * 1e9);
  if (!stallExpired(buffering, load.paused, nowNs, timeoutNs)) return false;
  applyStreamStopped(load, buffering, timeoutSeconds);
  return true;
}

// The instant a player asks the engine for a new load: from here nothing of
// the file before it counts for this one: its wait and the bound's stop of
// it, its end (the engine ends it before this load starts: no "idle" in
// between) and its end-of-file flag. The start of the next file ends the
// pending mark: the engine drops a load replaced before it started, so that
// start is the latest load's.
inline void applyLoadRequested(LoadState load, Buffering& buffering) {
  load.status = PlaybackStatus::loading;
  load.error.clear();
  load.errorFromEngine = false;
  load.fileLoaded = false;
  load.loadPending = true;
  load.source.outage = LiveOutage{};
  buffering = Buffering{};
}

// A load the engine refused never starts.
inline void withdrawLoadRequest(LoadState load) { load.loadPending = false; }

// An outage's turn: the wait shows; a reload goes out when the last one
// failed and its delay passed; the bound, counted over the whole outage, ends
// the load with the engine's last words on it.
inline WaitStep stepOutage(LoadState load, Buffering& buffering, double timeoutSeconds,
                           int64_t nowNs) {
  LiveOutage& outage = load.source.outage;
  buffering.active = true;
  buffering.percent = -1;
  if (outageExpired(outage, load.paused, nowNs, static_cast<int64_t>(timeoutSeconds * 1e9))) {
    const std::string failure =
        load.watch.faultLine.empty() ? outage.failure : load.watch.faultLine;
    applyStreamStopped(load, buffering, timeoutSeconds);
    load.error = outageStoppedText(timeoutSeconds, failure);
    outage.phase = LiveOutage::Phase::gaveUp;
    return WaitStep::stop;
  }
  if (outage.reloading || load.loadPending ||
      nowNs - outage.lastReloadNs < reloadDelayNs(outage.reloads)) {
    return WaitStep::none;
  }
  outage.reloading = true;
  outage.lastReloadNs = nowNs;
  ++outage.reloads;
  load.loadPending = true;
  return WaitStep::reload;
}

// The end of each event turn: an outage's step, or else the stall bound's.
// The player then queues what it says (queueReload or "stop").
inline WaitStep endWaitTurn(LoadState load, Buffering& buffering, double timeoutSeconds,
                            int64_t nowNs) {
  if (inOutage(load.source.outage, LiveOutage::Phase::waiting)) {
    return stepOutage(load, buffering, timeoutSeconds, nowNs);
  }
  return expireStalledLoad(load, buffering, timeoutSeconds, nowNs) ? WaitStep::stop
                                                                   : WaitStep::none;
}

// Sends the engine what the turn's end said. Waits for nothing: called under
// the player's lock, so that a later load always reaches the engine after it.
inline void sendWaitStep(mpv_handle* mpv, WaitStep step, const LiveSource& source) {
  if (step == WaitStep::reload) {
    queueReload(mpv, source.load);
  } else if (step == WaitStep::stop) {
    const char* stop[] = {"stop", nullptr};
    mpv_command_async(mpv, 0, stop);
  }
}

// The end of a stopped file that the bound or a newer load already
// accounted for.
inline bool isEndOfStalledLoad(const Buffering& buffering, const mpv_event_end_file* endFile) {
  return buffering.stalled && endFile != nullptr && endFile->reason == MPV_END_FILE_REASON_STOP;
}

// The end of a file: the rules' end, but for the end of a load the bound
// stopped and of one a newer load replaces.
inline void applyEndFileEvent(LoadState load, const StatusRules& rules, const Buffering& buffering,
                              const mpv_event& event, bool running) {
  const auto* endFile = static_cast<const mpv_event_end_file*>(event.data);
  if (load.loadPending || isEndOfStalledLoad(buffering, endFile)) return;
  applyEndFile(load, rules, endFile, running);
}

template <auto... Path>
void clearBuffering(RecordAt<Path...>& record) {
  fieldAt<Path...>(record) = Buffering{};
}

// The rows, reaching a Buffering through `Path`. The wait and its fill are
// shown; data arriving is what the stall bound counts as progress (a fill
// that moves, down included, is none). A new file starts unknown.
template <auto... Path>
constexpr std::array<PropertyRow<RecordAt<Path...>>, 4> bufferingRows() {
  using Record = RecordAt<Path...>;
  return {{
      {"paused-for-cache", MPV_FORMAT_FLAG,
       [](Record& r, const void* d) { fieldAt<Path...>(r).active = flagValue(d); },
       [](Record& r) {
         Buffering& b = fieldAt<Path...>(r);
         b.active = false;
         b.percent = -1;
       },
       &clearBuffering<Path...>},
      {"cache-buffering-state", MPV_FORMAT_INT64,
       [](Record& r, const void* d) { fieldAt<Path...>(r).percent = int64Value(d); },
       [](Record& r) { fieldAt<Path...>(r).percent = -1; }, nullptr},
      // A new measurement of the input rate: bytes were read in its window.
      {"cache-speed", MPV_FORMAT_INT64,
       [](Record& r, const void* d) {
         if (int64Value(d) > 0) fieldAt<Path...>(r).dataArrived = true;
       },
       nullptr, nullptr},
      // Timestamps that start over (an encoder restart) set a new mark
      // without counting; packets past the mark count.
      {"demuxer-cache-time", MPV_FORMAT_DOUBLE,
       [](Record& r, const void* d) {
         Buffering& b = fieldAt<Path...>(r);
         if (b.cacheEnd >= 0 && doubleValue(d) > b.cacheEnd) b.dataArrived = true;
         b.cacheEnd = doubleValue(d);
       },
       nullptr, nullptr},
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
