// The command reader thread: one command per standard-input line, turned into
// engine calls and playback-state changes. It writes no events itself; every
// state change sets snapshotDirty and surfaces in the next snapshot.
//
// Threads: the command reader runs runStdinLoop; main calls
// closeEngineToCommands at shutdown.
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
void runStdinLoop(HelperState& state, std::FILE* input)
    EXCLUDES(state.commandMutex, state.stateMutex);

// Runs one parsed command; a name that matches no command is ignored.
// Command reader thread, holding commandMutex.
void handleCommand(HelperState& state, const Command& command)
    REQUIRES(state.commandReader, state.commandMutex) EXCLUDES(state.stateMutex);

// The `record` command. Command reader thread.
void handleRecordCommand(HelperState& state, const Command& command) REQUIRES(state.commandReader)
    EXCLUDES(state.stateMutex);

// After the engine failed a recording: clears its "stream-record", which
// still holds the refused path, unless a recording has been started since.
// Waits for a command in progress, so it never undoes a newer `record`.
// Main thread (event loop).
void clearFailedRecording(HelperState& state) EXCLUDES(state.commandMutex, state.stateMutex);

// Stops the reader from touching the engine: waits for a command in progress
// to finish, after which the reader only ever leaves. Main thread, before the
// engine is destroyed.
void closeEngineToCommands(HelperState& state) EXCLUDES(state.commandMutex, state.stateMutex);

// The per-file options of a `load`: every non-empty "opt." field and those of
// the URL's source kind, sorted by name.
engine::LoadOptions loadOptionsOf(const Command& command);

// A load's options (loadOptionsOf) as the engine's text (loadOptionsText).
std::string buildLoadOptions(const Command& command);

// A number truncated toward zero to 32 bits, saturating; not-a-number gives 0.
int32_t truncateToInt32(double value);

}  // namespace frame_helper
