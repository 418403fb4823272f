#include "session_properties.h"

#include <cstdlib>

namespace hosted_mpv {

using engine::flagValue;
using engine::nodeValue;
using engine::rawString;
using engine::stringValue;

namespace {

using Row = engine::PropertyRow<Session>;
constexpr auto kSnapshot = &Session::snapshot;
using FactsAt = engine::MemberPath<&Session::source, &engine::LiveSource::facts>;
using DurationAt = engine::MemberPath<kSnapshot, &SessionSnapshot::durationSeconds>;

// The selections come from the list's "selected" marks and then from each
// "aid" / "sid" value.
void applyTrackListLocked(Session& session, const mpv_node& node) REQUIRES(session.stateMutex) {
  SessionSnapshot& snapshot = session.snapshot;
  snapshot.media.audioTracks = engine::readTracks(node, "audio", kSessionProfile.lists,
                                                  &snapshot.media.selectedAudioTrackId);
  snapshot.media.subtitleTracks = engine::readTracks(node, "sub", kSessionProfile.lists,
                                                     &snapshot.media.selectedSubtitleTrackId);
}

bool readSelection(const void* data, int64_t& id) {
  return engine::parseWholeInteger(rawString(data), id, kSessionProfile.lists.idOverflow);
}

// Engines before 0.36 report "no override" as a negative number ("-1.000000");
// the snapshot says "no" for it, as it does before the engine reports.
std::string normalizeAspectOverride(const std::string& value) {
  if (value.empty()) return value;
  char* end = nullptr;
  double number = std::strtod(value.c_str(), &end);
  return end == value.c_str() + value.size() && number < 0 ? "no" : value;
}

// The rows before the statistics: playback and tracks.
const std::array<Row, 11> kPlaybackRows{{
    engine::fileValueRow<0, kSnapshot, &SessionSnapshot::positionSeconds>("time-pos"),
    engine::durationRow<FactsAt, DurationAt>(),
    engine::pauseRow<Session, loadStateOf>(),
    // The engine's scale, 100 for full volume, as the snapshot keeps it.
    engine::settingRow<kSnapshot, &SessionSnapshot::volume>("volume"),
    engine::valueRow<kSnapshot, &SessionSnapshot::streamUrl>("path"),
    {"track-list", MPV_FORMAT_NODE,
     [](Session& s, const void* d)
         REQUIRES(s.stateMutex) { applyTrackListLocked(s, nodeValue(d)); },
     nullptr,
     [](Session& s) REQUIRES(s.stateMutex) {
       s.snapshot.media.audioTracks.clear();
       s.snapshot.media.selectedAudioTrackId = -1;
       s.snapshot.media.subtitleTracks.clear();
       s.snapshot.media.selectedSubtitleTrackId = -1;
     }},
    // An audio id that reads as no number ("no", "auto") keeps the selection.
    {"aid", MPV_FORMAT_STRING,
     [](Session& s, const void* d) REQUIRES(s.stateMutex) {
       int64_t id;
       if (readSelection(d, id)) {
         engine::selectTrack(s.snapshot.media.audioTracks, s.snapshot.media.selectedAudioTrackId,
                             id);
       }
     },
     nullptr, nullptr},
    {"sid", MPV_FORMAT_STRING,
     [](Session& s, const void* d) REQUIRES(s.stateMutex) {
       int64_t id;
       engine::selectTrack(s.snapshot.media.subtitleTracks,
                           s.snapshot.media.selectedSubtitleTrackId,
                           readSelection(d, id) ? id : -1);
     },
     nullptr, nullptr},
    engine::settingRow<kSnapshot, &SessionSnapshot::playbackSpeed>("speed"),
    {"video-aspect-override", MPV_FORMAT_STRING,
     [](Session& s, const void* d) REQUIRES(s.stateMutex) {
       s.snapshot.aspectOverride = normalizeAspectOverride(stringValue(d));
     },
     nullptr, nullptr, /*playerSetting=*/true},
    engine::eofReachedRow<Session, loadStateOf, kSessionProfile>(),
}};

const std::array<Row, 1> kChapterRows{{
    {"chapter-list", MPV_FORMAT_NODE,
     [](Session& s, const void* d) REQUIRES(s.stateMutex) {
       s.snapshot.media.chapters = engine::readChapters(nodeValue(d), kSessionProfile.lists);
     },
     nullptr, [](Session& s) REQUIRES(s.stateMutex) { s.snapshot.media.chapters.clear(); }},
}};

}  // namespace

const std::array<Row, 30> kSessionProperties =
    engine::joinRows(kPlaybackRows, engine::streamStatsRows<kSnapshot, &SessionSnapshot::stats>(),
                     kChapterRows, engine::bufferingRows<kSnapshot, &SessionSnapshot::buffering>(),
                     engine::sourceRows<FactsAt, DurationAt>());

}  // namespace hosted_mpv
