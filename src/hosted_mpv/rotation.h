// Rotation on the software path. libmpv 0.35's software renderer ignores a
// frame's rotation, and on a quarter turn it aborts the whole process (an
// assertion in mp_image_crop), while its video output tells the engine that
// it rotates. So a software session never lets the engine rotate
// (video-rotate=no) and has the picture turned in the engine's video filter
// chain instead (engine/turn_filter.h), chosen for each file before its first
// frame: the renderer then draws subtitles and the OSD over an upright
// picture.
//
// Threads: takeOverRotation on the calling thread at creation; the others on
// the session's event thread, without the session's lock (they call the
// engine).
#pragma once

#include <mpv/client.h>

#include "session.h"

namespace hosted_mpv {

// The reply id of the hook in which a software session chooses each file's turn.
inline constexpr uint64_t kTurnHookId = 1;

// Takes rotation over from the engine on a software session: keeps the
// engine's video-rotate (the default or the caller's extra option) as
// requestedRotation, sets the engine's to "no" and adds the hook that turns
// each file. Calling thread, after mpv_initialize and before anything is
// loaded.
void takeOverRotation(Session& session) EXCLUDES(session.stateMutex);

// The hook event `hook` of a software session: queues the turn of the file
// about to play, then lets the engine go on.
void turnForFile(Session& session, const mpv_event_hook& hook) REQUIRES(session.eventRole)
    EXCLUDES(session.stateMutex);

// Another video track was chosen while playing (its rotation metadata
// `streamRotation`): turns the picture anew if the turn differs.
void followVideoTrack(Session& session, int streamRotation) REQUIRES(session.eventRole)
    EXCLUDES(session.stateMutex);

}  // namespace hosted_mpv
