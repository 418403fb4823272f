// Where the helper differs from the hosted module (player_profile.h).
#pragma once

#include "player_profile.h"

namespace frame_helper {

inline constexpr engine::PlayerProfile kHelperProfile{
    .status =
        {
            // "eof-reached" ends a loaded file also while the loop stops.
            .eofReachedNeedsRunning = false,
            // An end in error without a fatal line of its own is not the engine's.
            .failedEndClearsEngineMark = true,
        },
    .recording =
        {
            // The snapshot waits for the engine's answer to a record command.
            .showAtOnce = false,
            // A failed target is cleared as soon as no recording runs.
            .clearFailedTargetAtOnce = true,
            // A load stops the recording and keeps its target and error shown.
            .loadKeepsTarget = true,
            // The engine may hold a path whose failure is not handled yet.
            .loadAlwaysClearsTarget = true,
        },
    .lists =
        {
            // The engine's documented formats only; the last entry of a key wins.
            .nodes = engine::NodeReading::exact,
            // An id text too large for 64 bits selects nothing.
            .idOverflow = engine::IntegerOverflow::reject,
        },
    .snapshot =
        {
            // The client sizes its canvas from the frame ring's picture.
            .showsPictureSize = true,
            // The protocol's position is a time from 0 (docs/protocol.md).
            .positionNeverNegative = true,
            // The protocol's volume runs from 0 to 1.5 (docs/protocol.md).
            .volumeCeiling = 1.5,
            // The line's key order, as its clients were first given it.
            .selectedIdBeforeTracks = false,
            // Exact reading has no "selected" marks: "aid" / "sid" select.
            .trackSelectedFromId = true,
            // Every line carries "stats" and "recording", empty or not.
            .leavesOutEmptyGroups = false,
        },
    // The command thread waits for the verdict, so a refused load is the
    // load's error at once.
    .loadfile = engine::LoadfileCall::waited,
};

}  // namespace frame_helper
