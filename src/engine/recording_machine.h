// The stream recording ("stream-record") as both players run it: what the
// snapshot shows, which requests to the engine are on their way, and what to
// send to the engine next.
//
// Each input is one function. The caller holds the lock that guards the
// snapshot's RecordingState and the RecordingMachine, and performs the
// returned RecordRequest after releasing it (the engine is never called under
// a player's state lock). A request's outcome comes back as recordingReplied
// under the lock again: the helper's synchronous result, the hosted module's
// reply event. Recorder failures handled in between are the inputs of a
// request on its way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "recording_state.h"

namespace engine {

// Where the two players differ; each player's profile holds its own
// (player_profile.h).
struct RecordingRules {
  // A start or stop shows in the snapshot as soon as it is asked and its
  // reply confirms or corrects it; a refused start shows the recording
  // stopped at the new target, and a recorder failure while a request is on
  // its way is left to its reply. Without it the snapshot waits for the
  // reply, a refused start or stop only sets the error, and a recorder
  // failure ends the recording shown meanwhile.
  bool showAtOnce;
  // Every recorder failure marks the engine's target for clearing, and the
  // player clears it as soon as it can (recordingClearFailedTarget) unless a
  // recording runs by then. Without it only a failure that ends a running
  // recording marks it, and the next start or load replaces it.
  bool clearFailedTargetAtOnce;
  // A load stops the recording but keeps its target and error; without it a
  // load forgets them too.
  bool loadKeepsTarget;
  // Every load clears the engine's target, which may hold a path whose
  // failure is not handled yet; without it only a running recording or a
  // held failed target.
  bool loadAlwaysClearsTarget;
};

// A request on its way; id 0 is "none".
struct PendingRecordRequest {
  uint64_t id = 0;
  std::string targetPath;  // a start's target
  // A start's time stamp; for a stop, the start time shown before it, shown
  // again if the engine refuses the stop.
  std::string startedAt;
  // A start only: the last recorder failure while it was on its way. The
  // engine opens a new target as it takes it and may log the failure before
  // it replies; the reply, though it succeeds, then settles a failed start.
  std::string failure;
  bool heldFailedTarget = false;  // holdsFailedTarget before the request
  bool forLoad = false;           // a stop a load sent: its refusal is the load's
};

struct RecordingMachine {
  PendingRecordRequest start;
  PendingRecordRequest stop;
  // Requests a load made moot: their replies settle nothing, so a late one
  // cannot bring back the recording the load ended.
  std::vector<uint64_t> mootIds;
  // The engine failed a recording and still holds its target in
  // "stream-record": it would record the next file there.
  bool holdsFailedTarget = false;
};

// What to send to the engine: "stream-record" set to `target` ("" stops or
// clears). `replyId` 0: nothing comes back (the caller ignores the result).
struct RecordRequest {
  bool send = false;
  std::string target;
  uint64_t replyId = 0;
};

// Start asked: record into `path` from `startedAt` (a UTC time stamp).
RecordRequest recordingStartAsked(const RecordingRules& rules, RecordingMachine& machine,
                                  RecordingState& shown, uint64_t requestId,
                                  const std::string& path, const std::string& startedAt);

// Stop asked.
RecordRequest recordingStopAsked(const RecordingRules& rules, RecordingMachine& machine,
                                 RecordingState& shown, uint64_t requestId);

// The engine's answer to request `requestId`: `status` < 0 refused it, with
// `text` the engine's words. Returns false when the id is no recording
// request (nor a moot one): the caller's own reply then.
bool recordingReplied(const RecordingRules& rules, RecordingMachine& machine, RecordingState& shown,
                      uint64_t requestId, int status, std::string_view text);

// A recorder error line (with its line end).
void recordingFailed(const RecordingRules& rules, RecordingMachine& machine, RecordingState& shown,
                     std::string_view line);

// A load starting: what the engine must be sent first so that it does not
// record the new file. With a `requestId` the clear's reply is expected (a
// refusal is the load's to report); with 0 nothing comes back.
RecordRequest recordingLoadStarting(const RecordingRules& rules, RecordingMachine& machine,
                                    const RecordingState& shown, uint64_t requestId);

// The load requested: the snapshot shows no recording running, and the
// replies of requests on their way are forgotten (the engine takes them, and
// the load, in order).
void recordingLoadRequested(const RecordingRules& rules, RecordingMachine& machine,
                            RecordingState& shown);

// The player closing ends a running recording (the caller waits for the
// engine, so the file is complete before the player goes); the error stays.
RecordRequest recordingPlayerClosing(RecordingState& shown);

// Clears a failed target the engine still holds, unless a recording runs.
RecordRequest recordingClearFailedTarget(RecordingMachine& machine, const RecordingState& shown);

// Whether a start or stop is on its way.
bool recordingRequestPending(const RecordingMachine& machine);

}  // namespace engine
