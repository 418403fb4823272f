// The recording machine as a table: every input in every state, for both
// players' rules. A state is reached by inputs from idle (start 1 into A at
// T1, stop 2); the input under test uses id 9, target B, time T2.
#include "recording_machine.h"

#include <gtest/gtest.h>
#include <mpv/client.h>

#include <string>
#include <tuple>
#include <vector>

#include "../../src/helper/helper_profile.h"
#include "../../src/hosted_mpv/session_profile.h"

using namespace engine;

namespace {

const char* const kFailureLine = "Failed opening output file.\n";

enum class From { idle, running, failed, starting, startingFailed, stopping };
enum class Input { start, stop, replyOk, replyRefused, failure, load, closing, clearFailed };

// The two players' own rules.
const RecordingRules& kHelperRecordingRules = frame_helper::kHelperProfile.recording;
const RecordingRules& kHostedRecordingRules = hosted_mpv::kSessionProfile.recording;

struct Player {
  const RecordingRules& rules;
  uint64_t loadClearId;  // the hosted module expects the load's clear's reply
};
const Player kHelper{kHelperRecordingRules, 0};
const Player kHosted{kHostedRecordingRules, 9};

// The requests on the machine's books.
enum Book : unsigned { kStart = 1, kStartFailed = 2, kStop = 4, kHeld = 8 };

unsigned booksOf(const RecordingMachine& m) {
  unsigned books = 0;
  if (m.start.id != 0) books |= m.start.failure.empty() ? kStart : kStartFailed;
  if (m.stop.id != 0) books |= kStop;
  if (m.holdsFailedTarget) books |= kHeld;
  return books;
}

// What one input leaves: the recording shown, the request to send, the
// machine's books, the ids a load made moot, and whether a reply was settled.
struct Outcome {
  RecordingState shown;
  RecordRequest sent;
  unsigned books = 0;
  std::vector<uint64_t> moot = {};
  bool settled = true;
};

void reach(From from, const RecordingRules& rules, RecordingMachine& m, RecordingState& shown) {
  if (from == From::idle) return;
  recordingStartAsked(rules, m, shown, 1, "A", "T1");
  if (from == From::startingFailed) recordingFailed(rules, m, shown, kFailureLine);
  if (from == From::starting || from == From::startingFailed) return;
  recordingReplied(rules, m, shown, 1, 0, "");
  if (from == From::failed) recordingFailed(rules, m, shown, kFailureLine);
  if (from == From::stopping) recordingStopAsked(rules, m, shown, 2);
}

Outcome run(From from, Input input, const Player& player) {
  const RecordingRules& rules = player.rules;
  RecordingMachine m;
  Outcome out;
  RecordingState& shown = out.shown;
  reach(from, rules, m, shown);
  // A reply answers the request on its way, else an id nobody sent.
  const uint64_t replyId = m.start.id != 0 ? m.start.id : m.stop.id != 0 ? m.stop.id : 9;
  const int refusal = MPV_ERROR_PROPERTY_ERROR;
  switch (input) {
    case Input::start:
      out.sent = recordingStartAsked(rules, m, shown, 9, "B", "T2");
      break;
    case Input::stop:
      out.sent = recordingStopAsked(rules, m, shown, 9);
      break;
    case Input::replyOk:
      out.settled = recordingReplied(rules, m, shown, replyId, 0, "");
      break;
    case Input::replyRefused:
      out.settled = recordingReplied(rules, m, shown, replyId, refusal, mpv_error_string(refusal));
      break;
    case Input::failure:
      recordingFailed(rules, m, shown, kFailureLine);
      break;
    case Input::load:
      out.sent = recordingLoadStarting(rules, m, shown, player.loadClearId);
      recordingLoadRequested(rules, m, shown);
      break;
    case Input::closing:
      out.sent = recordingPlayerClosing(shown);
      break;
    case Input::clearFailed:
      out.sent = recordingClearFailedTarget(m, shown);
      break;
  }
  out.books = booksOf(m);
  out.moot = m.mootIds;
  // Replies of requests a load made moot settle, but change nothing.
  RecordingState after = shown;
  for (uint64_t id : out.moot) EXPECT_TRUE(recordingReplied(rules, m, after, id, 0, ""));
  EXPECT_EQ(after.active, shown.active);
  EXPECT_EQ(after.targetPath, shown.targetPath);
  EXPECT_EQ(after.startedAt, shown.startedAt);
  EXPECT_EQ(after.error, shown.error);
  EXPECT_TRUE(m.mootIds.empty());
  return out;
}

void expectOutcome(const Outcome& got, const Outcome& want) {
  EXPECT_EQ(got.shown.active, want.shown.active);
  EXPECT_EQ(got.shown.targetPath, want.shown.targetPath);
  EXPECT_EQ(got.shown.startedAt, want.shown.startedAt);
  EXPECT_EQ(got.shown.error, want.shown.error);
  EXPECT_EQ(got.sent.send, want.sent.send);
  EXPECT_EQ(got.sent.target, want.sent.target);
  EXPECT_EQ(got.sent.replyId, want.sent.replyId);
  EXPECT_EQ(got.books, want.books);
  EXPECT_EQ(got.moot, want.moot);
  EXPECT_EQ(got.settled, want.settled);
}

struct Row {
  From from;
  Input input;
  Outcome helper;
  Outcome hosted;
};

using enum From;
using enum Input;

constexpr bool on = true;
constexpr bool off = false;
constexpr bool unsettled = false;
const std::string kFailed = "Failed opening output file.";
const std::string kRefused = mpv_error_string(MPV_ERROR_PROPERTY_ERROR);

// Per row: from which state, which input, then for the helper and the hosted
// module: {shown {active, target, started at, error}, sent {send, target,
// reply id}, books, moot ids, settled}.
const Row kTable[] = {
    {idle, start, {{off, "", "", ""}, {true, "B", 9}, kStart},
     {{on, "B", "T2", ""}, {true, "B", 9}, kStart}},
    {idle, stop, {{off, "", "", ""}, {true, "", 9}, kStop},
     {{off, "", "", ""}, {true, "", 9}, kStop}},
    {idle, replyOk, {{off, "", "", ""}, {}, 0, {}, unsettled},
     {{off, "", "", ""}, {}, 0, {}, unsettled}},
    {idle, replyRefused, {{off, "", "", ""}, {}, 0, {}, unsettled},
     {{off, "", "", ""}, {}, 0, {}, unsettled}},
    {idle, failure, {{off, "", "", ""}, {}, kHeld},
     {{off, "", "", ""}, {}, 0}},
    {idle, load, {{off, "", "", ""}, {true, "", 0}, 0},
     {{off, "", "", ""}, {}, 0}},
    {idle, closing, {{off, "", "", ""}, {}, 0},
     {{off, "", "", ""}, {}, 0}},
    {idle, clearFailed, {{off, "", "", ""}, {}, 0},
     {{off, "", "", ""}, {}, 0}},

    {running, start, {{on, "A", "T1", ""}, {true, "B", 9}, kStart},
     {{on, "B", "T2", ""}, {true, "B", 9}, kStart}},
    {running, stop, {{on, "A", "T1", ""}, {true, "", 9}, kStop},
     {{off, "A", "", ""}, {true, "", 9}, kStop}},
    {running, replyOk, {{on, "A", "T1", ""}, {}, 0, {}, unsettled},
     {{on, "A", "T1", ""}, {}, 0, {}, unsettled}},
    {running, replyRefused, {{on, "A", "T1", ""}, {}, 0, {}, unsettled},
     {{on, "A", "T1", ""}, {}, 0, {}, unsettled}},
    {running, failure, {{off, "A", "", kFailed}, {}, kHeld},
     {{off, "A", "", kFailed}, {}, kHeld}},
    {running, load, {{off, "A", "", ""}, {true, "", 0}, 0},
     {{off, "", "", ""}, {true, "", 9}, 0, {9}}},
    {running, closing, {{off, "A", "", ""}, {true, "", 0}, 0},
     {{off, "A", "", ""}, {true, "", 0}, 0}},
    {running, clearFailed, {{on, "A", "T1", ""}, {}, 0},
     {{on, "A", "T1", ""}, {}, 0}},

    {failed, start, {{off, "A", "", kFailed}, {true, "B", 9}, kStart},
     {{on, "B", "T2", ""}, {true, "B", 9}, kStart}},
    {failed, stop, {{off, "A", "", kFailed}, {true, "", 9}, kStop},
     {{off, "A", "", ""}, {true, "", 9}, kStop}},
    {failed, replyOk, {{off, "A", "", kFailed}, {}, kHeld, {}, unsettled},
     {{off, "A", "", kFailed}, {}, kHeld, {}, unsettled}},
    {failed, replyRefused, {{off, "A", "", kFailed}, {}, kHeld, {}, unsettled},
     {{off, "A", "", kFailed}, {}, kHeld, {}, unsettled}},
    {failed, failure, {{off, "A", "", kFailed}, {}, kHeld},
     {{off, "A", "", kFailed}, {}, kHeld}},
    {failed, load, {{off, "A", "", kFailed}, {true, "", 0}, 0},
     {{off, "", "", ""}, {true, "", 9}, 0, {9}}},
    {failed, closing, {{off, "A", "", kFailed}, {}, kHeld},
     {{off, "A", "", kFailed}, {}, kHeld}},
    {failed, clearFailed, {{off, "A", "", kFailed}, {true, "", 0}, 0},
     {{off, "A", "", kFailed}, {true, "", 0}, 0}},

    {starting, start, {{off, "", "", ""}, {true, "B", 9}, kStart},
     {{on, "B", "T2", ""}, {true, "B", 9}, kStart}},
    {starting, stop, {{off, "", "", ""}, {true, "", 9}, kStart | kStop},
     {{off, "A", "", ""}, {true, "", 9}, kStart | kStop}},
    {starting, replyOk, {{on, "A", "T1", ""}, {}, 0},
     {{on, "A", "T1", ""}, {}, 0}},
    {starting, replyRefused, {{off, "", "", kRefused}, {}, 0},
     {{off, "A", "", kRefused}, {}, 0}},
    {starting, failure, {{off, "", "", ""}, {}, kStartFailed | kHeld},
     {{on, "A", "T1", ""}, {}, kStartFailed}},
    {starting, load, {{off, "", "", ""}, {true, "", 0}, 0, {1}},
     {{off, "", "", ""}, {true, "", 9}, 0, {1, 9}}},
    {starting, closing, {{off, "", "", ""}, {}, kStart},
     {{off, "A", "", ""}, {true, "", 0}, kStart}},
    {starting, clearFailed, {{off, "", "", ""}, {}, kStart},
     {{on, "A", "T1", ""}, {}, kStart}},

    {startingFailed, start, {{off, "", "", ""}, {true, "B", 9}, kStart},
     {{on, "B", "T2", ""}, {true, "B", 9}, kStart}},
    {startingFailed, stop, {{off, "", "", ""}, {true, "", 9}, kStartFailed | kStop},
     {{off, "A", "", ""}, {true, "", 9}, kStartFailed | kStop}},
    {startingFailed, replyOk, {{off, "A", "", kFailed}, {}, kHeld},
     {{off, "A", "", kFailed}, {}, kHeld}},
    {startingFailed, replyRefused, {{off, "", "", kRefused}, {}, kHeld},
     {{off, "A", "", kRefused}, {}, kHeld}},
    {startingFailed, failure, {{off, "", "", ""}, {}, kStartFailed | kHeld},
     {{on, "A", "T1", ""}, {}, kStartFailed}},
    {startingFailed, load, {{off, "", "", ""}, {true, "", 0}, 0, {1}},
     {{off, "", "", ""}, {true, "", 9}, 0, {1, 9}}},
    {startingFailed, closing, {{off, "", "", ""}, {}, kStartFailed | kHeld},
     {{off, "A", "", ""}, {true, "", 0}, kStartFailed}},
    {startingFailed, clearFailed, {{off, "", "", ""}, {true, "", 0}, kStartFailed},
     {{on, "A", "T1", ""}, {}, kStartFailed}},

    {stopping, start, {{on, "A", "T1", ""}, {true, "B", 9}, kStart | kStop},
     {{on, "B", "T2", ""}, {true, "B", 9}, kStart | kStop}},
    {stopping, stop, {{on, "A", "T1", ""}, {true, "", 9}, kStop},
     {{off, "A", "", ""}, {true, "", 9}, kStop}},
    {stopping, replyOk, {{off, "A", "", ""}, {}, 0},
     {{off, "A", "", ""}, {}, 0}},
    {stopping, replyRefused, {{on, "A", "T1", kRefused}, {}, 0},
     {{on, "A", "T1", kRefused}, {}, 0}},
    {stopping, failure, {{off, "A", "", kFailed}, {}, kStop | kHeld},
     {{off, "A", "", ""}, {}, kStop}},
    {stopping, load, {{off, "A", "", ""}, {true, "", 0}, 0, {2}},
     {{off, "", "", ""}, {}, 0, {2}}},
    {stopping, closing, {{off, "A", "", ""}, {true, "", 0}, kStop},
     {{off, "A", "", ""}, {}, kStop}},
    {stopping, clearFailed, {{on, "A", "T1", ""}, {}, kStop},
     {{off, "A", "", ""}, {}, kStop}},
};

}  // namespace

TEST(RecordingMachine, EveryInputInEveryState) {
  for (const Row& row : kTable) {
    for (const auto& [player, want, name] :
         {std::tuple{kHelper, row.helper, "helper"}, std::tuple{kHosted, row.hosted, "hosted"}}) {
      SCOPED_TRACE(testing::Message() << name << ", from " << static_cast<int>(row.from)
                                      << ", input " << static_cast<int>(row.input));
      expectOutcome(run(row.from, row.input, player), want);
    }
  }
}

// The row a stop for a load adds: refused, it changes nothing shown (the load
// reports it) and the engine still holds the failed target.
TEST(RecordingMachine, ARefusedClearBeforeALoadLeavesTheRecordingAsItWas) {
  RecordingMachine m;
  RecordingState shown;
  reach(From::failed, kHostedRecordingRules, m, shown);
  const RecordingState before = shown;
  EXPECT_TRUE(recordingLoadStarting(kHostedRecordingRules, m, shown, 9).send);
  EXPECT_FALSE(m.holdsFailedTarget);
  EXPECT_TRUE(recordingReplied(kHostedRecordingRules, m, shown, 9, MPV_ERROR_PROPERTY_ERROR, "x"));
  EXPECT_EQ(shown.active, before.active);
  EXPECT_EQ(shown.targetPath, before.targetPath);
  EXPECT_EQ(shown.error, before.error);
  EXPECT_TRUE(m.holdsFailedTarget);
  EXPECT_FALSE(recordingRequestPending(m));
}
