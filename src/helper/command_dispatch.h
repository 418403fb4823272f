// The command reader thread: one command per standard-input line, turned into
// engine calls and playback-state changes. It writes no events itself; every
// state change sets snapshotDirty and surfaces in the next snapshot.
//
// Threads: the command reader runs runStdinLoop; main calls
// closeEngineToCommands at shutdown. Lock order: commandMutex before
// stateMutex before the pipeline's mutex.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "command.h"
#include "helper_state.h"

namespace frame_helper {

// The thread body: reads and runs commands from `input` while `running` is
// true; on every way out stores false into `running` and wakes the engine.
// Command reader thread.
void runStdinLoop(HelperState& state, std::FILE* input);

// Runs one parsed command; a name that matches no command is ignored.
// Command reader thread; takes stateMutex itself where needed.
void handleCommand(HelperState& state, const Command& command);

// The `record` command. Command reader thread.
void handleRecordCommand(HelperState& state, const Command& command);

// After the engine failed a recording: clears its "stream-record", which
// still holds the refused path, unless a recording has been started since.
// Waits for a command in progress, so it never undoes a newer `record`.
// Main thread (event loop), holding no lock.
void clearFailedRecording(HelperState& state);

// Stops the reader from touching the engine: waits for a command in progress
// to finish, after which the reader only ever leaves. Main thread, before the
// engine is destroyed, holding no lock.
void closeEngineToCommands(HelperState& state);

// The per-file options of a `load`: every non-empty "opt." field, sorted by
// key, as name=%<byte length>%value joined by commas.
std::string buildLoadOptions(const Command& command);

// A number truncated toward zero to 32 bits, saturating; not-a-number gives 0.
int32_t truncateToInt32(double value);

}  // namespace frame_helper
