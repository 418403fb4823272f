// The recording machine as a table: every input in every state, for both
// players' rules. A state is reached by inputs from idle (start 1 into A at
// T1, stop 2); the input under test uses id 9, target B, time T2.
#include "recording_machine.h"

#include <gtest/gtest.h>
#include <mpv/client.h>

#include <string>
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

// Texts as short words: "-" empty, "failed" the recorder's, "refused" the engine's.
std::string word(const std::string& text) {
  if (text.empty()) return "-";
  if (text == "Failed opening output file.") return "failed";
  if (text == mpv_error_string(MPV_ERROR_PROPERTY_ERROR)) return "refused";
  return text;
}

std::string shownText(const RecordingState& shown) {
  return std::string(shown.active ? "on" : "off") + " " + word(shown.targetPath) + " " +
         word(shown.startedAt) + " " + word(shown.error);
}

// "shown | sent | requests on their way, held target, moot ids, unsettled reply".
std::string describe(const RecordingState& shown, const RecordRequest& sent,
                     const RecordingMachine& machine, bool settled) {
  std::string out = shownText(shown) + " |";
  if (sent.send) out += " " + (sent.target.empty() ? std::string("''") : sent.target);
  if (sent.replyId != 0) out += "@" + std::to_string(sent.replyId);
  out += " |";
  if (machine.start.id != 0) out += machine.start.failure.empty() ? " start" : " start!";
  if (machine.stop.id != 0) out += " stop";
  if (machine.holdsFailedTarget) out += " held";
  if (!machine.mootIds.empty()) out += " moot";
  for (uint64_t id : machine.mootIds) out += " " + std::to_string(id);
  if (!settled) out += " ?";
  return out;
}

void reach(From from, const RecordingRules& rules, RecordingMachine& m, RecordingState& shown) {
  if (from == From::idle) return;
  recordingStartAsked(rules, m, shown, 1, "A", "T1");
  if (from == From::startingFailed) recordingFailed(rules, m, shown, kFailureLine);
  if (from == From::starting || from == From::startingFailed) return;
  recordingReplied(rules, m, shown, 1, 0, "");
  if (from == From::failed) recordingFailed(rules, m, shown, kFailureLine);
  if (from == From::stopping) recordingStopAsked(rules, m, shown, 2);
}

std::string run(From from, Input input, const Player& player) {
  const RecordingRules& rules = player.rules;
  RecordingMachine m;
  RecordingState shown;
  reach(from, rules, m, shown);
  RecordRequest sent;
  bool settled = true;
  // A reply answers the request on its way, else an id nobody sent.
  const uint64_t replyId = m.start.id != 0 ? m.start.id : m.stop.id != 0 ? m.stop.id : 9;
  const int refusal = MPV_ERROR_PROPERTY_ERROR;
  switch (input) {
    case Input::start:
      sent = recordingStartAsked(rules, m, shown, 9, "B", "T2");
      break;
    case Input::stop:
      sent = recordingStopAsked(rules, m, shown, 9);
      break;
    case Input::replyOk:
      settled = recordingReplied(rules, m, shown, replyId, 0, "");
      break;
    case Input::replyRefused:
      settled = recordingReplied(rules, m, shown, replyId, refusal, mpv_error_string(refusal));
      break;
    case Input::failure:
      recordingFailed(rules, m, shown, kFailureLine);
      break;
    case Input::load:
      sent = recordingLoadStarting(rules, m, shown, player.loadClearId);
      recordingLoadRequested(rules, m, shown);
      break;
    case Input::closing:
      sent = recordingPlayerClosing(shown);
      break;
    case Input::clearFailed:
      sent = recordingClearFailedTarget(m, shown);
      break;
  }
  std::string outcome = describe(shown, sent, m, settled);
  // Replies of requests a load made moot settle, but change nothing.
  const RecordingState before = shown;
  const std::vector<uint64_t> moot = m.mootIds;
  for (uint64_t id : moot) EXPECT_TRUE(recordingReplied(rules, m, shown, id, 0, ""));
  EXPECT_EQ(shownText(shown), shownText(before));
  EXPECT_TRUE(m.mootIds.empty());
  return outcome;
}

struct Row {
  From from;
  Input input;
  const char* helper;
  const char* hosted;
};

using enum From;
using enum Input;

const Row kTable[] = {
    {idle, start, "off - - - | B@9 | start", "on B T2 - | B@9 | start"},
    {idle, stop, "off - - - | ''@9 | stop", "off - - - | ''@9 | stop"},
    {idle, replyOk, "off - - - | | ?", "off - - - | | ?"},
    {idle, replyRefused, "off - - - | | ?", "off - - - | | ?"},
    {idle, failure, "off - - - | | held", "off - - - | |"},
    {idle, load, "off - - - | '' |", "off - - - | |"},
    {idle, closing, "off - - - | |", "off - - - | |"},
    {idle, clearFailed, "off - - - | |", "off - - - | |"},

    {running, start, "on A T1 - | B@9 | start", "on B T2 - | B@9 | start"},
    {running, stop, "on A T1 - | ''@9 | stop", "off A - - | ''@9 | stop"},
    {running, replyOk, "on A T1 - | | ?", "on A T1 - | | ?"},
    {running, replyRefused, "on A T1 - | | ?", "on A T1 - | | ?"},
    {running, failure, "off A - failed | | held", "off A - failed | | held"},
    {running, load, "off A - - | '' |", "off - - - | ''@9 | moot 9"},
    {running, closing, "off A - - | '' |", "off A - - | '' |"},
    {running, clearFailed, "on A T1 - | |", "on A T1 - | |"},

    {failed, start, "off A - failed | B@9 | start", "on B T2 - | B@9 | start"},
    {failed, stop, "off A - failed | ''@9 | stop", "off A - - | ''@9 | stop"},
    {failed, replyOk, "off A - failed | | held ?", "off A - failed | | held ?"},
    {failed, replyRefused, "off A - failed | | held ?", "off A - failed | | held ?"},
    {failed, failure, "off A - failed | | held", "off A - failed | | held"},
    {failed, load, "off A - failed | '' |", "off - - - | ''@9 | moot 9"},
    {failed, closing, "off A - failed | | held", "off A - failed | | held"},
    {failed, clearFailed, "off A - failed | '' |", "off A - failed | '' |"},

    {starting, start, "off - - - | B@9 | start", "on B T2 - | B@9 | start"},
    {starting, stop, "off - - - | ''@9 | start stop", "off A - - | ''@9 | start stop"},
    {starting, replyOk, "on A T1 - | |", "on A T1 - | |"},
    {starting, replyRefused, "off - - refused | |", "off A - refused | |"},
    {starting, failure, "off - - - | | start! held", "on A T1 - | | start!"},
    {starting, load, "off - - - | '' | moot 1", "off - - - | ''@9 | moot 1 9"},
    {starting, closing, "off - - - | | start", "off A - - | '' | start"},
    {starting, clearFailed, "off - - - | | start", "on A T1 - | | start"},

    {startingFailed, start, "off - - - | B@9 | start", "on B T2 - | B@9 | start"},
    {startingFailed, stop, "off - - - | ''@9 | start! stop", "off A - - | ''@9 | start! stop"},
    {startingFailed, replyOk, "off A - failed | | held", "off A - failed | | held"},
    {startingFailed, replyRefused, "off - - refused | | held", "off A - refused | | held"},
    {startingFailed, failure, "off - - - | | start! held", "on A T1 - | | start!"},
    {startingFailed, load, "off - - - | '' | moot 1", "off - - - | ''@9 | moot 1 9"},
    {startingFailed, closing, "off - - - | | start! held", "off A - - | '' | start!"},
    {startingFailed, clearFailed, "off - - - | '' | start!", "on A T1 - | | start!"},

    {stopping, start, "on A T1 - | B@9 | start stop", "on B T2 - | B@9 | start stop"},
    {stopping, stop, "on A T1 - | ''@9 | stop", "off A - - | ''@9 | stop"},
    {stopping, replyOk, "off A - - | |", "off A - - | |"},
    {stopping, replyRefused, "on A T1 refused | |", "on A T1 refused | |"},
    {stopping, failure, "off A - failed | | stop held", "off A - - | | stop"},
    {stopping, load, "off A - - | '' | moot 2", "off - - - | | moot 2"},
    {stopping, closing, "off A - - | '' | stop", "off A - - | | stop"},
    {stopping, clearFailed, "on A T1 - | | stop", "off A - - | | stop"},
};

}  // namespace

TEST(RecordingMachine, EveryInputInEveryState) {
  for (const Row& row : kTable) {
    SCOPED_TRACE(testing::Message() << "from " << static_cast<int>(row.from) << ", input "
                                    << static_cast<int>(row.input));
    EXPECT_EQ(run(row.from, row.input, kHelper), row.helper);
    EXPECT_EQ(run(row.from, row.input, kHosted), row.hosted);
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
  EXPECT_EQ(shownText(shown), shownText(before));
  EXPECT_TRUE(m.holdsFailedTarget);
  EXPECT_FALSE(recordingRequestPending(m));
}
