// The playback rules both players apply to the engine's file events, pause
// and log lines (docs/playback-rules.md, "Playback rules (both players)").
//
// Each player keeps its own record and hands the rules a LoadState of
// references into it: the rules are written once without changing what
// either record or its readers hold. The rules where the players differ also
// take its StatusRules (player_profile.h).
// The caller holds the lock that guards the record.
#pragma once

#include <mpv/client.h>

#include <atomic>
#include <string>
#include <string_view>

#include "live_source.h"
#include "playback_status.h"
#include "property_table.h"
#include "stream_end.h"
#include "thread_annotations.h"

namespace engine {

// Where the players' status rules differ.
struct StatusRules {
  // "eof-reached" ends a loaded file only while the player runs, not while
  // it is being torn down.
  bool eofReachedNeedsRunning;
  // A file ending in error without a fatal line of its own clears the
  // "from the engine" mark. Without it a fatal line with an empty text
  // leaves the mark on the words the end of the file then sets.
  bool failedEndClearsEngineMark;
};

// The part of a player's record the rules change.
struct LoadState {
  PlaybackStatus& status;
  std::string& error;
  bool& errorFromEngine;
  bool& fileLoaded;
  bool& paused;
  StreamWatch& watch;
  // A load was asked of the engine and no file has started since: the ends
  // the engine reports meanwhile are of the files it replaces.
  bool& loadPending;
  // The source's facts and its outage (live_source.h).
  LiveSource& source;
};

// A live HLS source stopped delivering: its reloads begin; the status stays.
inline void beginOutage(LiveOutage& outage) {
  outage = LiveOutage{};
  outage.phase = LiveOutage::Phase::waiting;
}

inline bool inOutage(const LiveOutage& outage, LiveOutage::Phase phase) {
  return outage.phase == phase;
}

// Error and fatal lines may name the failure of a load; other levels never.
inline bool isFailureLevel(std::string_view level) { return level == "error" || level == "fatal"; }

// The engine logs while it probes (audio outputs, hardware decoders) and
// delivers log lines after the events that followed them, so a line never
// changes the status. While a file loads, a line may still be a late one of
// the load before it: a fatal line is held and names this load's failure
// only if it fails, and nothing shows while it loads. Once the load failed,
// the lines that follow are its own words; once playing, the engine recovered.
inline void applyFailureLine(LoadState load, std::string_view level, const char* text) {
  if (!isFailureLevel(level) || !load.watch.refusal.empty()) return;
  if (load.status == PlaybackStatus::loading) {
    if (level == "fatal") {
      load.watch.heldFatalLine = text;
      load.watch.heldFatal = true;
    }
    return;
  }
  if (load.status != PlaybackStatus::error) return;
  // The engine separates its messages with blank lines: they say nothing.
  if (std::string_view(text).find_first_not_of(" \t\r\n") == std::string_view::npos) return;
  load.error = text;
  if (level == "fatal") load.errorFromEngine = true;
}

// A file the URL policy refused (url_guard.h), or a load refused before it
// reached the engine: the refusal is the error until the next file starts,
// whatever the engine then says about the file it stops or fails to open.
inline void applyRefusal(LoadState load, std::string text) {
  load.status = PlaybackStatus::error;
  load.error = text;
  load.errorFromEngine = false;
  load.fileLoaded = false;
  load.watch.refusal = std::move(text);
  load.source.outage = LiveOutage{};
}

// The start of an outage's reload keeps the status the wait is shown beside;
// one that starts after the bound gave up changes nothing.
inline void applyStartFile(LoadState load) {
  load.loadPending = false;
  const LiveOutage& outage = load.source.outage;
  if (inOutage(outage, LiveOutage::Phase::gaveUp)) return;
  if (!inOutage(outage, LiveOutage::Phase::waiting)) load.status = PlaybackStatus::loading;
  load.error.clear();
  load.errorFromEngine = false;
  load.fileLoaded = false;
  load.watch = StreamWatch{};
}

// Whatever the engine complained about while opening (outputs and decoders
// tried in turn, a late line of a replaced load), it recovered.
// A reload that loads ends the outage.
inline void applyFileLoaded(LoadState load) {
  if (inOutage(load.source.outage, LiveOutage::Phase::gaveUp)) return;
  load.source.outage = LiveOutage{};
  load.fileLoaded = true;
  load.status = load.paused ? PlaybackStatus::paused : PlaybackStatus::playing;
  load.error.clear();
  load.errorFromEngine = false;
  load.watch.heldFatalLine.clear();
  load.watch.heldFatal = false;
}

// `running` is false once the player is being torn down: then only an error
// still changes the status.
// A live HLS source that ends or fails after it played is in an outage; a
// reload of it that fails leaves the outage waiting, with the engine's words.
inline void applyEndFile(LoadState load, const StatusRules& rules,
                         const mpv_event_end_file* endFile, bool running) {
  const int reason = endFile ? endFile->reason : -1;
  const bool failedOrEnded =
      reason == MPV_END_FILE_REASON_EOF || reason == MPV_END_FILE_REASON_ERROR;
  LiveOutage& outage = load.source.outage;
  if (inOutage(outage, LiveOutage::Phase::gaveUp)) return;
  if (inOutage(outage, LiveOutage::Phase::waiting)) {
    if (failedOrEnded) {
      outage.reloading = false;
      if (!load.watch.faultLine.empty()) {
        outage.failure = load.watch.faultLine;
      } else if (endFile->error < 0) {
        outage.failure = mpv_error_string(endFile->error);
      }
      return;
    }
    outage = LiveOutage{};
  } else if (failedOrEnded && running && load.fileLoaded && reloadsAfterOutage(load.source.facts)) {
    beginOutage(outage);
    return;
  }
  switch (reason) {
    case MPV_END_FILE_REASON_EOF:
      if (running) load.status = PlaybackStatus::ended;
      break;
    case MPV_END_FILE_REASON_ERROR:
      if (!load.watch.refusal.empty()) {
        load.error = load.watch.refusal;
        load.errorFromEngine = false;
        load.status = PlaybackStatus::error;
        break;
      }
      // A fatal line of this load (the engine's own words) is kept.
      if (load.watch.heldFatal) {
        load.error = load.watch.heldFatalLine;
        load.errorFromEngine = true;
        load.watch.heldFatal = false;
      }
      if (!load.errorFromEngine || load.error.empty()) {
        load.error = endFile->error < 0 ? mpv_error_string(endFile->error) : "Playback failed.";
        if (rules.failedEndClearsEngineMark) load.errorFromEngine = false;
      }
      load.status = PlaybackStatus::error;
      break;
    case MPV_END_FILE_REASON_REDIRECT:
      if (running) {
        load.status = PlaybackStatus::loading;
        load.error.clear();
        load.errorFromEngine = false;
        load.fileLoaded = false;
      }
      break;
    default:
      if (running && load.watch.refusal.empty()) load.status = PlaybackStatus::idle;
      break;
  }
}

// At the end of a stream ("ended"), one cut short carries why in `error`;
// the status stays "ended" as for any end, so the last frame stays and the
// next load plays. A stream that played out carries no error.
inline void applyStreamEnd(LoadState load, const StreamEndFacts& facts) {
  if (load.status != PlaybackStatus::ended) return;
  std::string text = cutStreamText(load.watch, facts);
  if (!text.empty()) load.error = std::move(text);
}

// A pause moves only a loaded file that plays or is paused: a closed player
// or one without a file never shows as paused.
inline void applyPause(LoadState load, bool paused) {
  load.paused = paused;
  const bool moves =
      load.status == PlaybackStatus::playing || load.status == PlaybackStatus::paused;
  if (moves && load.fileLoaded) {
    load.status = paused ? PlaybackStatus::paused : PlaybackStatus::playing;
  }
}

inline void applyEofReached(LoadState load, const StatusRules& rules, bool reached, bool running) {
  if (!reached || !load.fileLoaded) return;
  if (rules.eofReachedNeedsRunning && !running) return;
  if (running && reloadsAfterOutage(load.source.facts)) {
    if (inOutage(load.source.outage, LiveOutage::Phase::none)) beginOutage(load.source.outage);
    return;
  }
  load.status = PlaybackStatus::ended;
}

// The rows of "pause" and "eof-reached" in a player's property table: the
// rules above on the LoadState that `LoadStateOf(record)` gives;
// "eof-reached" also takes the player's `Profile` (player_profile.h) and
// reads the record's `running` flag.
// A player applies its rows under its state lock, which a row made for any
// Record cannot name: the rows are left out of the lock analysis.
template <typename Record, auto LoadStateOf>
constexpr PropertyRow<Record> pauseRow() {
  return {"pause",
          MPV_FORMAT_FLAG,
          [](Record& r, const void* d)
              NO_THREAD_SAFETY_ANALYSIS { applyPause(LoadStateOf(r), flagValue(d)); },
          nullptr,
          nullptr,
          /*playerSetting=*/true};
}

template <typename Record, auto LoadStateOf, const auto& Profile>
constexpr PropertyRow<Record> eofReachedRow() {
  return {"eof-reached", MPV_FORMAT_FLAG,
          [](Record& r, const void* d) NO_THREAD_SAFETY_ANALYSIS {
            applyEofReached(LoadStateOf(r), Profile.status, flagValue(d),
                            r.running.load(std::memory_order_acquire));
          },
          nullptr, nullptr};
}

}  // namespace engine
