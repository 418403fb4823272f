#include "helper_properties.h"

#include <cstdlib>

#include "buffering.h"
#include "render_size.h"
#include "software_frame.h"
#include "stream_stats.h"
#include "tracks.h"

namespace frame_helper {

using engine::doubleValue;
using engine::flagValue;
using engine::int64Value;
using engine::nodeValue;
using engine::rawString;
using engine::stringValue;

namespace {

using Row = engine::PropertyRow<HelperState>;
using FactsAt = engine::MemberPath<&HelperState::source, &engine::LiveSource::facts>;
using DurationAt = engine::MemberPath<&HelperState::durationSeconds>;

// The picture as displayed: the renderer turns it by the engine's rotation,
// a quarter or three quarters of a turn swapping its sides. The engine turns
// any other angle with a filter before "dwidth" / "dheight", and reports no
// rotation left for the renderer then; so does the software path, whose
// filter chain makes every turn (turn_filter.h).
// The engine reports the two sides one at a time: a picture is sized once
// both are known, so that no snapshot shows one side of it (640x0).
void applyDisplayedSizeLocked(HelperState& state) REQUIRES(state.stateMutex) {
  const bool sideways = ((state.rotationDegrees % 180) + 180) % 180 == 90;
  const bool known = state.engineVideoWidth > 0 && state.engineVideoHeight > 0;
  state.videoWidth = !known ? 0 : sideways ? state.engineVideoHeight : state.engineVideoWidth;
  state.videoHeight = !known ? 0 : sideways ? state.engineVideoWidth : state.engineVideoHeight;
  applyRenderSizeLocked(state);
}

// A size or rotation of the picture: the displayed size follows each value,
// and 0 stands for none.
template <int64_t HelperState::*Field>
constexpr Row pictureRow(const char* name, bool resetAtStart) {
  return {name, MPV_FORMAT_INT64,
          [](HelperState& s, const void* d) REQUIRES(s.stateMutex) {
            s.*Field = int64Value(d);
            applyDisplayedSizeLocked(s);
          },
          [](HelperState& s) REQUIRES(s.stateMutex) {
            s.*Field = 0;
            applyDisplayedSizeLocked(s);
          },
          // A new file's size comes with its own values; the displayed size
          // is cleared with it (handleStartFileLocked), the ring stays.
          resetAtStart ? +[](HelperState& s) REQUIRES(s.stateMutex) { s.*Field = 0; } : nullptr};
}

// A list that is not an array (never sent by the engine) keeps the tracks.
void applyTrackListLocked(HelperState& state, const mpv_node& node) REQUIRES(state.stateMutex) {
  if (node.format != MPV_FORMAT_NODE_ARRAY || node.u.list == nullptr) return;
  state.media.audioTracks = engine::readTracks(node, "audio", kHelperProfile.lists);
  state.media.subtitleTracks = engine::readTracks(node, "sub", kHelperProfile.lists);
}

// "no", "auto" and other texts select nothing.
int64_t selectionOrNone(const char* text) {
  int64_t id = -1;
  return engine::parseWholeInteger(text, id, kHelperProfile.lists.idOverflow) ? id : -1;
}

std::string aspectOverrideFrom(const std::string& text) {
  return !text.empty() && std::atof(text.c_str()) > 0 ? text : "no";
}

// The rows before the statistics: playback, tracks, the picture's size.
const std::array<Row, 13> kPlaybackRows{{
    engine::fileValueRow<0, &HelperState::positionSeconds>("time-pos"),
    engine::durationRow<FactsAt, DurationAt>(),
    engine::pauseRow<HelperState, loadStateOf>(),
    // The engine's scale is 0 to 100; the helper's 0 to 1.
    {"volume", MPV_FORMAT_DOUBLE,
     [](HelperState& s, const void* d)
         REQUIRES(s.stateMutex) { s.volume = doubleValue(d) / 100.0; },
     nullptr, nullptr, /*playerSetting=*/true},
    engine::valueRow<&HelperState::streamUrl>("path"),
    {"track-list", MPV_FORMAT_NODE,
     [](HelperState& s, const void* d)
         REQUIRES(s.stateMutex) { applyTrackListLocked(s, nodeValue(d)); },
     nullptr,
     [](HelperState& s) REQUIRES(s.stateMutex) {
       s.media.audioTracks.clear();
       s.media.subtitleTracks.clear();
     }},
    // The selections come from "aid" / "sid" alone, not from the list.
    {"aid", MPV_FORMAT_STRING,
     [](HelperState& s, const void* d)
         REQUIRES(s.stateMutex) { s.media.selectedAudioTrackId = selectionOrNone(rawString(d)); },
     nullptr, [](HelperState& s) REQUIRES(s.stateMutex) { s.media.selectedAudioTrackId = -1; }},
    {"sid", MPV_FORMAT_STRING,
     [](HelperState& s, const void* d) REQUIRES(s.stateMutex) {
       s.media.selectedSubtitleTrackId = selectionOrNone(rawString(d));
     },
     nullptr, [](HelperState& s) REQUIRES(s.stateMutex) { s.media.selectedSubtitleTrackId = -1; }},
    engine::settingRow<&HelperState::playbackSpeed>("speed"),
    {"video-aspect-override", MPV_FORMAT_STRING,
     [](HelperState& s, const void* d)
         REQUIRES(s.stateMutex) { s.aspectOverride = aspectOverrideFrom(stringValue(d)); },
     nullptr, nullptr, /*playerSetting=*/true},
    engine::eofReachedRow<HelperState, loadStateOf, kHelperProfile>(),
    pictureRow<&HelperState::engineVideoWidth>("dwidth", true),
    pictureRow<&HelperState::engineVideoHeight>("dheight", true),
}};

// The rows after the statistics: chapters and the picture's rotation.
const std::array<Row, 2> kChapterAndRotationRows{{
    {"chapter-list", MPV_FORMAT_NODE,
     [](HelperState& s, const void* d) REQUIRES(s.stateMutex) {
       s.media.chapters = engine::readChapters(nodeValue(d), kHelperProfile.lists);
     },
     nullptr, [](HelperState& s) REQUIRES(s.stateMutex) { s.media.chapters.clear(); }},
    // The quarter turns the renderer still applies; other angles are turned
    // by a filter and already show in "dwidth" / "dheight".
    pictureRow<&HelperState::rotationDegrees>("video-out-params/rotate", false),
}};

}  // namespace

const std::array<Row, 33> kHelperProperties = engine::joinRows(
    kPlaybackRows, engine::streamStatsRows<&HelperState::stats>(), kChapterAndRotationRows,
    engine::bufferingRows<&HelperState::buffering>(), engine::sourceRows<FactsAt, DurationAt>());

void clearFileFactsLocked(HelperState& state) {
  engine::resetForNewFile<HelperState>(kHelperProperties, state);
  state.videoWidth = 0;
  state.videoHeight = 0;
}

}  // namespace frame_helper
