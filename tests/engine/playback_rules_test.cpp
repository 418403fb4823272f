// The shared playback rules on a record of the helper's shape (text statuses),
// driven through event sequences, with both values of each player parameter.
#include "playback_rules.h"

#include <gtest/gtest.h>

#include <string>

using namespace engine;

namespace {

struct Record {
  std::string status = "idle";
  std::string error;
  bool errorFromEngine = false;
  bool fileLoaded = false;
  bool paused = false;
};

StatusRules<const char*> rulesWith(bool eofReachedNeedsRunning, bool failedEndClearsEngineMark) {
  return {"idle",
          "loading",
          "playing",
          "paused",
          "ended",
          "error",
          eofReachedNeedsRunning,
          failedEndClearsEngineMark};
}

LoadState<std::string> load(Record& r) {
  return {r.status, r.error, r.errorFromEngine, r.fileLoaded, r.paused};
}

void endFile(Record& r, const StatusRules<const char*>& rules, mpv_end_file_reason reason,
             int error, bool running) {
  mpv_event_end_file end{};
  end.reason = reason;
  end.error = error;
  applyEndFile(load(r), rules, &end, running);
}

}  // namespace

TEST(PlaybackRules, ALoadFromFailureLinesToEndedAndTheNext) {
  const auto rules = rulesWith(false, true);
  Record r;
  applyStartFile(load(r), rules);
  EXPECT_EQ(r.status, "loading");
  applyFailureLine(load(r), rules, "warn", "ignored");
  EXPECT_EQ(r.error, "");
  applyFailureLine(load(r), rules, "fatal", "cannot open server");
  EXPECT_EQ(r.error, "cannot open server");
  EXPECT_TRUE(r.errorFromEngine);
  EXPECT_EQ(r.status, "loading");  // a line never changes the status
  applyPause(load(r), rules, true);
  EXPECT_EQ(r.status, "loading");  // not loaded yet: the pause waits
  applyFileLoaded(load(r), rules);
  EXPECT_EQ(r.status, "paused");
  EXPECT_EQ(r.error, "");
  EXPECT_FALSE(r.errorFromEngine);
  applyFailureLine(load(r), rules, "error", "late line of a replaced load");
  EXPECT_EQ(r.error, "");
  applyPause(load(r), rules, false);
  EXPECT_EQ(r.status, "playing");
  applyEofReached(load(r), rules, true, true);
  EXPECT_EQ(r.status, "ended");
  applyPause(load(r), rules, true);
  EXPECT_EQ(r.status, "ended");
  endFile(r, rules, MPV_END_FILE_REASON_EOF, 0, true);
  EXPECT_EQ(r.status, "ended");
  applyStartFile(load(r), rules);
  EXPECT_EQ(r.status, "loading");
  EXPECT_FALSE(r.fileLoaded);
  EXPECT_TRUE(r.paused);  // the caller's pause carries over to the next load
}

TEST(PlaybackRules, AFailedEndKeepsAFatalLineAndTakesLaterWords) {
  const auto rules = rulesWith(false, true);
  Record r;
  applyStartFile(load(r), rules);
  applyFailureLine(load(r), rules, "fatal", "No such file");
  endFile(r, rules, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, true);
  EXPECT_EQ(r.status, "error");
  EXPECT_EQ(r.error, "No such file");
  applyFailureLine(load(r), rules, "error", "words after the event");
  EXPECT_EQ(r.error, "words after the event");

  Record plain;
  applyStartFile(load(plain), rules);
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
    applyStartFile(load(r), rules);
    applyEofReached(load(r), rules, true, true);
    EXPECT_EQ(r.status, "loading");  // never before the file is loaded
    applyFileLoaded(load(r), rules);
    applyEofReached(load(r), rules, true, false);
    EXPECT_EQ(r.status, needsRunning ? "playing" : "ended");
    applyEofReached(load(r), rules, false, true);
    EXPECT_EQ(r.status, needsRunning ? "playing" : "ended");
  }
}

TEST(PlaybackRules, AnEmptyFatalLineThenAFailedEndFollowsTheRule) {
  for (bool clearsMark : {false, true}) {
    const auto rules = rulesWith(false, clearsMark);
    Record r;
    applyStartFile(load(r), rules);
    applyFailureLine(load(r), rules, "fatal", "");
    EXPECT_TRUE(r.errorFromEngine);
    endFile(r, rules, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, true);
    EXPECT_EQ(r.error, mpv_error_string(MPV_ERROR_LOADING_FAILED));
    EXPECT_EQ(r.errorFromEngine, !clearsMark);
  }
}

TEST(PlaybackRules, EndOfFileReasonsWhileRunningAndStopping) {
  const auto rules = rulesWith(false, true);
  for (bool running : {true, false}) {
    Record r;
    r.status = "playing";
    r.fileLoaded = true;
    endFile(r, rules, MPV_END_FILE_REASON_REDIRECT, 0, running);
    EXPECT_EQ(r.status, running ? "loading" : "playing");
    EXPECT_EQ(r.fileLoaded, !running);
    r.status = "playing";
    endFile(r, rules, MPV_END_FILE_REASON_STOP, 0, running);
    EXPECT_EQ(r.status, running ? "idle" : "playing");
    r.status = "playing";
    applyEndFile(load(r), rules, nullptr, running);
    EXPECT_EQ(r.status, running ? "idle" : "playing");
  }
}
