// The shared playback rules on a record of the helper's shape (text statuses),
// driven through event sequences, with both values of each player parameter.
#include "playback_rules.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "text_status_record.h"

using namespace engine;

namespace {

using Record = TextStatusRecord;

StatusRules rulesWith(bool eofReachedNeedsRunning, bool failedEndClearsEngineMark) {
  return {eofReachedNeedsRunning, failedEndClearsEngineMark};
}

void endFile(Record& r, const StatusRules& rules, mpv_end_file_reason reason,
             int error, bool running) {
  mpv_event_end_file end{};
  end.reason = reason;
  end.error = error;
  applyEndFile(loadStateOf(r), rules, &end, running);
}

}  // namespace

TEST(PlaybackRules, ALoadFromFailureLinesToEndedAndTheNext) {
  const auto rules = rulesWith(false, true);
  Record r;
  applyStartFile(loadStateOf(r), rules);
  EXPECT_EQ(r.status, "loading");
  applyFailureLine(loadStateOf(r), rules, "warn", "ignored");
  EXPECT_EQ(r.error, "");
  applyFailureLine(loadStateOf(r), rules, "fatal", "cannot open server");
  EXPECT_EQ(r.error, "");  // held: it may be a late line of the load before
  EXPECT_FALSE(r.errorFromEngine);
  EXPECT_EQ(r.status, "loading");  // a line never changes the status
  applyPause(loadStateOf(r), rules, true);
  EXPECT_EQ(r.status, "loading");  // not loaded yet: the pause waits
  applyFileLoaded(loadStateOf(r), rules);
  EXPECT_EQ(r.status, "paused");
  EXPECT_EQ(r.error, "");
  EXPECT_FALSE(r.errorFromEngine);
  applyFailureLine(loadStateOf(r), rules, "error", "late line of a replaced load");
  EXPECT_EQ(r.error, "");
  applyPause(loadStateOf(r), rules, false);
  EXPECT_EQ(r.status, "playing");
  applyEofReached(loadStateOf(r), rules, true, true);
  EXPECT_EQ(r.status, "ended");
  applyPause(loadStateOf(r), rules, true);
  EXPECT_EQ(r.status, "ended");
  endFile(r, rules, MPV_END_FILE_REASON_EOF, 0, true);
  EXPECT_EQ(r.status, "ended");
  applyStartFile(loadStateOf(r), rules);
  EXPECT_EQ(r.status, "loading");
  EXPECT_FALSE(r.fileLoaded);
  EXPECT_TRUE(r.paused);  // the caller's pause carries over to the next load
}

TEST(PlaybackRules, AFailedEndKeepsAFatalLineAndTakesLaterWords) {
  const auto rules = rulesWith(false, true);
  Record r;
  applyStartFile(loadStateOf(r), rules);
  applyFailureLine(loadStateOf(r), rules, "fatal", "No such file");
  endFile(r, rules, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, true);
  EXPECT_EQ(r.status, "error");
  EXPECT_EQ(r.error, "No such file");
  applyFailureLine(loadStateOf(r), rules, "error", "words after the event");
  EXPECT_EQ(r.error, "words after the event");
  applyFailureLine(loadStateOf(r), rules, "error", "\n");
  EXPECT_EQ(r.error, "words after the event");

  Record plain;
  applyStartFile(loadStateOf(plain), rules);
  endFile(plain, rules, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, false);
  EXPECT_EQ(plain.status, "error");  // also while stopping
  EXPECT_EQ(plain.error, mpv_error_string(MPV_ERROR_LOADING_FAILED));
  endFile(plain, rules, MPV_END_FILE_REASON_ERROR, 0, true);
  EXPECT_EQ(plain.error, "Playback failed.");
}

// The two places the players' rules differ, each with both values.
TEST(PlaybackRules, EofReachedWhileStoppingFollowsTheRule) {
  for (bool needsRunning : {false, true}) {
    const auto rules = rulesWith(needsRunning, true);
    Record r;
    applyStartFile(loadStateOf(r), rules);
    applyEofReached(loadStateOf(r), rules, true, true);
    EXPECT_EQ(r.status, "loading");  // never before the file is loaded
    applyFileLoaded(loadStateOf(r), rules);
    applyEofReached(loadStateOf(r), rules, true, false);
    EXPECT_EQ(r.status, needsRunning ? "playing" : "ended");
    applyEofReached(loadStateOf(r), rules, false, true);
    EXPECT_EQ(r.status, needsRunning ? "playing" : "ended");
  }
}

TEST(PlaybackRules, AnEmptyFatalLineThenAFailedEndFollowsTheRule) {
  for (bool clearsMark : {false, true}) {
    const auto rules = rulesWith(false, clearsMark);
    Record r;
    applyStartFile(loadStateOf(r), rules);
    applyFailureLine(loadStateOf(r), rules, "fatal", "");
    endFile(r, rules, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, true);
    EXPECT_EQ(r.error, mpv_error_string(MPV_ERROR_LOADING_FAILED));
    EXPECT_EQ(r.errorFromEngine, !clearsMark);
  }
}

TEST(PlaybackRules, EndOfFileReasonsWhileRunningAndStopping) {
  const auto rules = rulesWith(false, true);
  for (bool running : {true, false}) {
    Record r;
    r.status = PlaybackStatus::playing;
    r.fileLoaded = true;
    endFile(r, rules, MPV_END_FILE_REASON_REDIRECT, 0, running);
    EXPECT_EQ(r.status, running ? "loading" : "playing");
    EXPECT_EQ(r.fileLoaded, !running);
    r.status = PlaybackStatus::playing;
    endFile(r, rules, MPV_END_FILE_REASON_STOP, 0, running);
    EXPECT_EQ(r.status, running ? "idle" : "playing");
    r.status = PlaybackStatus::playing;
    applyEndFile(loadStateOf(r), rules, nullptr, running);
    EXPECT_EQ(r.status, running ? "idle" : "playing");
  }
}

// A failed load replaced at once: the engine delivers its line after the next
// file's start. Nothing shows while the next file loads; it is gone once that
// file plays, and names the failure only when that file fails too.
TEST(PlaybackRules, ALateLineOfAFailedLoadNeverShowsWhileTheNextLoads) {
  const auto rules = rulesWith(false, true);
  for (bool nextFails : {false, true}) {
    Record r;
    applyStartFile(loadStateOf(r), rules);
    endFile(r, rules, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, true);
    applyStartFile(loadStateOf(r), rules);
    applyFailureLine(loadStateOf(r), rules, "error", "Failed to open first.\n");
    applyFailureLine(loadStateOf(r), rules, "fatal", "late fatal of the first\n");
    EXPECT_EQ(r.status, "loading");
    EXPECT_EQ(r.error, "");
    EXPECT_FALSE(r.errorFromEngine);
    if (nextFails) {
      endFile(r, rules, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, true);
      EXPECT_EQ(r.error, "late fatal of the first\n");
      EXPECT_TRUE(r.errorFromEngine);
    } else {
      applyFileLoaded(loadStateOf(r), rules);
      applyEofReached(loadStateOf(r), rules, true, true);
      applyStreamEnd(loadStateOf(r), rules, StreamEndFacts{6.0, 6.0, 1000000, 1000000});
      EXPECT_EQ(r.status, "ended");
      EXPECT_EQ(r.error, "");  // the held line is gone with the load that played
    }
  }
}

// A refusal of the URL policy (in the engine's hook, or of a load before it
// was sent) is the error whatever the engine says about the file it then
// fails to open or stops, until the next file starts.
TEST(PlaybackRules, ARefusalStaysTheErrorUntilTheNextFile) {
  const auto rules = rulesWith(false, true);
  const std::string refusal = "URL refused: scheme \"file\" is not in allowedSchemes (http)";
  for (mpv_end_file_reason reason : {MPV_END_FILE_REASON_ERROR, MPV_END_FILE_REASON_STOP}) {
    Record r;
    applyStartFile(loadStateOf(r), rules);
    applyFileLoaded(loadStateOf(r), rules);
    applyRefusal(loadStateOf(r), rules, refusal);
    EXPECT_EQ(r.status, "error");
    applyFailureLine(loadStateOf(r), rules, "fatal", "No protocol handler found.\n");
    applyFailureLine(loadStateOf(r), rules, "error", "Failed to open.\n");
    endFile(r, rules, reason, MPV_ERROR_LOADING_FAILED, true);
    applyEofReached(loadStateOf(r), rules, true, true);
    EXPECT_EQ(r.status, "error") << reason;
    EXPECT_EQ(r.error, refusal) << reason;
    EXPECT_FALSE(r.errorFromEngine);
    applyStartFile(loadStateOf(r), rules);
    endFile(r, rules, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, true);
    EXPECT_EQ(r.error, "loading failed") << "the next file's own failure";
  }
  // The hook keeps only the refusal: the load is still loading until it ends.
  Record r;
  applyStartFile(loadStateOf(r), rules);
  r.watch.refusal = refusal;
  applyFailureLine(loadStateOf(r), rules, "fatal", "Refusing to load potentially unsafe URL.\n");
  EXPECT_EQ(r.status, "loading");
  endFile(r, rules, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, true);
  EXPECT_EQ(r.status, "error");
  EXPECT_EQ(r.error, refusal);
}

// Which ends are a cut stream, from the engine's facts and the lines it logged.
TEST(PlaybackRules, AStreamCutShortEndsWithWhyAndOnePlayedOutWithout) {
  const char* premature = "http: Stream ends prematurely at 418484, should be 1046211\n";
  const char* lostSegment = "hls: Failed to open segment 3 of playlist 0\n";
  struct Case {
    const char* name;
    StreamEndFacts facts;
    std::vector<std::array<const char*, 3>> lines;  // level, prefix, text
    std::string error;
  };
  const std::vector<Case> cases = {
      {"played out, index left unread", {6.04, 6.02, 1045948, 1046211}, {}, ""},
      {"played out, MP4 index at the end unread", {60.0, 60.0, 9800000, 10000000}, {}, ""},
      {"bit-rate duration a little long", {57.5, 60.0, 10000000, 10000000}, {}, ""},
      {"live: nothing to compare", {30.0, -1, 500000, -1}, {}, ""},
      {"reset at 40 %", {2.55, 6.02, 414532, 1046211}, {}, "The stream ended early, at 2.5 s of 6.0 s."},
      {"closed at 40 %", {2.55, 6.02, 418484, 1046211}, {{"error", "ffmpeg", premature}}, premature},
      {"no duration, bytes short", {2.0, -1, 400000, 1000000}, {},
       "The stream ended early, at byte 400000 of 1000000."},
      {"HLS by its time", {2.0, 6.0, -1, 281}, {}, "The stream ended early, at 2.0 s of 6.0 s."},
      {"HLS played on past a lost segment", {6.04, 6.01, -1, 281},
       {{"warn", "ffmpeg/demuxer", lostSegment}}, lostSegment},
      {"HLS segment retried on a new connection", {6.04, 6.01, -1, 281},
       {{"warn", "ffmpeg/demuxer", "hls: keepalive request failed, retrying with new connection\n"}},
       ""},
      {"probing lines are not the stream's words", {2.55, 6.02, 414532, 1046211},
       {{"fatal", "ao/jack", "cannot open server\n"}, {"error", "vd", "Could not create device.\n"}},
       "The stream ended early, at 2.5 s of 6.0 s."},
  };
  const auto rules = rulesWith(false, true);
  for (const Case& c : cases) {
    Record r;
    applyStartFile(loadStateOf(r), rules);
    applyFileLoaded(loadStateOf(r), rules);
    for (const auto& [level, prefix, text] : c.lines) {
      noteStreamLine(r.watch, level, prefix, text);
      applyFailureLine(loadStateOf(r), rules, level, text);
    }
    applyStreamEnd(loadStateOf(r), rules, c.facts);
    EXPECT_EQ(r.error, "") << c.name << ": nothing before the end";
    applyEofReached(loadStateOf(r), rules, true, true);
    applyStreamEnd(loadStateOf(r), rules, c.facts);
    EXPECT_EQ(r.status, "ended") << c.name;
    EXPECT_EQ(r.error, c.error) << c.name;
    EXPECT_FALSE(r.errorFromEngine) << c.name;
    applyStartFile(loadStateOf(r), rules);  // the next file starts clean
    applyFileLoaded(loadStateOf(r), rules);
    applyEofReached(loadStateOf(r), rules, true, true);
    applyStreamEnd(loadStateOf(r), rules, StreamEndFacts{6.0, 6.0, 1000000, 1000000});
    EXPECT_EQ(r.error, "") << c.name;
  }
}
