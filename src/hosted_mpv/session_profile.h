// Where the hosted module differs from the helper (player_profile.h).
#pragma once

#include <limits>

#include "player_profile.h"

namespace hosted_mpv {

inline constexpr engine::PlayerProfile kSessionProfile{
    .status =
        {
            // A session being disposed does not end its file: it is "closed".
            .eofReachedNeedsRunning = true,
            // A fatal line with an empty text keeps its mark on the end's words.
            .failedEndClearsEngineMark = false,
        },
    .recording =
        {
            // A start or stop shows as soon as it is asked; its reply corrects it.
            .showAtOnce = true,
            // Only a failure that ends a running recording has its target cleared.
            .clearFailedTargetAtOnce = false,
            // A load forgets the last recording's target and error.
            .loadKeepsTarget = false,
            // A load clears the target only when one runs or failed.
            .loadAlwaysClearsTarget = false,
        },
    .lists =
        {
            // First entry of a key; ids from texts and doubles, flags from
            // "yes" texts, and the "selected" marks.
            .nodes = engine::NodeReading::lenient,
            // An id text too large for 64 bits is clamped, as strtoll clamps.
            .idOverflow = engine::IntegerOverflow::clamp,
        },
    .snapshot =
        {
            // The module draws into its own view: no picture size to show.
            .showsPictureSize = false,
            // The position as the engine gives it.
            .positionNeverNegative = false,
            // The volume as the engine has it, over 1 with a raised volume-max.
            .volumeCeiling = std::numeric_limits<double>::infinity(),
            // The object's key order, as its callers were first given it.
            .selectedIdBeforeTracks = true,
            // Lenient reading keeps the list's own "selected" marks.
            .trackSelectedFromId = false,
            // No "stats" or "recording" while there is nothing to show.
            .leavesOutEmptyGroups = true,
        },
    // The JavaScript thread never waits for the engine: a load's verdict
    // comes as its reply.
    .loadfile = engine::LoadfileCall::queued,
};

}  // namespace hosted_mpv
