// Interlaced video is deinterlaced by default in both players, and only
// interlaced video.
//
// The engine's own "deinterlace" option (0.35) runs its deinterlacer on
// every frame, progressive ones included, at twice their rate. A filter in
// the chain costs even when it passes frames through: a hardware decoder's
// frames have to come back to memory for it. So the players look at the
// decoded frames' field flags ("video-frame-info/interlaced") and put a
// motion-adaptive deinterlacer (bwdif, one picture per field: 50 pictures a
// second from 25i, as broadcast players show them) in the chain only once a
// file shows interlaced frames; each new file starts without it and is
// looked at again. Progressive frames that follow interlaced ones in the
// same file pass the filter untouched (deint=interlaced); once it is in, the
// flags it hides are no longer looked at.
#pragma once

#include <mpv/client.h>

#include <cstdint>
#include <string_view>

namespace engine {

inline constexpr const char* kDeinterlaceFilter = "bwdif=mode=send_field:deint=interlaced";
// How often a file without the filter is looked at: for its first frame
// every tenth of a second, then every quarter (interlaced frames that
// follow progressive ones show woven at most that long).
inline constexpr int64_t kFieldLookIntervalNs = 250'000'000;
inline constexpr int64_t kFirstFrameLookIntervalNs = 100'000'000;

// A caller's option that decides the deinterlacing itself: "deinterlace", or
// the engine's video filter list "vf", which the filter would replace. (The
// list's "vf-add" forms are command-line only: the engine refuses them here.)
bool decidesDeinterlacing(std::string_view optionName);

// The player's deinterlacing of the file playing. Event thread only.
struct FieldFollower {
  bool callerDecides = false;  // set once at creation, before the thread runs
  bool filtering = false;      // the filter is in the engine's chain
  bool newFile = false;        // a file started: out with the filter, look again
  int64_t nextLookNs = 0;
};

// After each event turn, outside the player's lock: takes the filter out at
// a new file and puts it in once the frames shown are interlaced.
void followFieldFlags(mpv_handle* mpv, FieldFollower& follower, int64_t nowNs);

}  // namespace engine
