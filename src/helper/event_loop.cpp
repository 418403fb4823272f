#include "event_loop.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "command_dispatch.h"
#include "json_writer.h"
#include "output_lines.h"
#include "render_size.h"
#include "software_frame.h"
#include "snapshot.h"
#include "track_parsing.h"

namespace frame_helper {

namespace {

constexpr double kEventWaitSeconds = 0.1;

bool isRunning(const HelperState& state) { return state.running.load(std::memory_order_acquire); }

// The engine accepts any "stream-record" path and only reports a file it
// cannot open through its recorder's log; without this a refused recording
// would show as active.
void noteRecorderFailureLocked(HelperState& state, std::string_view text) {
  while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  state.lastRecorderFailure = text;
  state.recorderFailures.fetch_add(1, std::memory_order_release);
  state.failedRecordingToClear = true;
  if (!state.recordingActive) return;
  state.recordingActive = false;
  state.recordingStartedAt.clear();
  state.recordingError = text;
}

void handleLogMessageLocked(HelperState& state, const mpv_event_log_message* message) {
  if (message == nullptr || message->level == nullptr || message->text == nullptr) return;
  const std::string_view level = message->level;
  const char* prefix = message->prefix ? message->prefix : "mpv";
  if (level == "error" || level == "fatal") {
    // The engine logs while it probes (audio outputs, hardware decoders) and
    // delivers log lines after the events that followed them, so a line says
    // nothing about the status. It names the failure only while the current
    // load has not started playing; once playing, the engine recovered.
    if (state.status == "loading" || state.status == "error") {
      state.error = message->text;
      if (level == "fatal") state.errorFromEngine = true;
    }
    if (std::string_view(prefix) == "recorder") noteRecorderFailureLocked(state, message->text);
    state.snapshotDirty = true;
  }
  emitLine(logLine(level, prefix, message->text));
}

void handleStartFileLocked(HelperState& state) {
  state.status = "loading";
  state.error.clear();
  state.errorFromEngine = false;
  state.fileLoaded = false;
  state.videoWidth = 0;
  state.videoHeight = 0;
  state.engineVideoWidth = 0;
  state.engineVideoHeight = 0;
  state.fps = 0;
  state.videoBitrateBps = 0;
  state.audioBitrateBps = 0;
  state.audioSampleRateHz = 0;
  state.videoCodec.clear();
  state.audioCodec.clear();
  state.audioChannels.clear();
  state.container.clear();
  state.bufferedAheadSeconds = -1;
  state.droppedFrames = -1;
  state.decoderDroppedFrames = -1;
  state.audioTracks.clear();
  state.subtitleTracks.clear();
  state.chapters.clear();
  state.selectedAudioTrackId = -1;
  state.selectedSubtitleTrackId = -1;
  state.snapshotDirty = true;
}

void handleEndFileLocked(HelperState& state, const mpv_event_end_file* endFile) {
  state.snapshotDirty = true;
  const bool running = isRunning(state);
  if (endFile == nullptr) {
    if (running) state.status = "idle";
    return;
  }
  switch (endFile->reason) {
    case MPV_END_FILE_REASON_EOF:
      if (running) state.status = "ended";
      break;
    case MPV_END_FILE_REASON_ERROR:
      // A fatal line of this load (the engine's own words) is kept.
      if (!state.errorFromEngine || state.error.empty()) {
        state.error = endFile->error < 0 ? mpv_error_string(endFile->error) : "Playback failed.";
        state.errorFromEngine = false;
      }
      state.status = "error";
      break;
    case MPV_END_FILE_REASON_REDIRECT:
      if (running) {
        state.status = "loading";
        state.error.clear();
        state.errorFromEngine = false;
        state.fileLoaded = false;
      }
      break;
    default:
      if (running) state.status = "idle";
      break;
  }
}

// Values as the engine hands them over for each format.
double doubleValue(const void* data) { return *static_cast<const double*>(data); }
int64_t int64Value(const void* data) { return *static_cast<const int64_t*>(data); }
bool flagValue(const void* data) { return *static_cast<const int*>(data) != 0; }
std::string stringValue(const void* data) {
  const char* text = *static_cast<char* const*>(data);
  return text ? text : "";
}
const char* rawString(const void* data) { return *static_cast<char* const*>(data); }
const mpv_node& nodeValue(const void* data) { return *static_cast<const mpv_node*>(data); }

void applyPauseLocked(HelperState& state, bool paused) {
  state.paused = paused;
  const std::string& s = state.status;
  if (s != "loading" && s != "ended" && s != "error" && state.fileLoaded) {
    state.status = paused ? "paused" : "playing";
  }
}

// The picture as displayed: the renderer turns it by the engine's rotation,
// a quarter or three quarters of a turn swapping its sides. The engine turns
// any other angle with a filter before "dwidth" / "dheight", and reports no
// rotation left for the renderer then.
//
// The software path turns the picture itself, by the nearest quarter turn
// of the stream's rotation plus the caller's video-rotate (none for "no"),
// while the engine reports no rotation at all.
void applyDisplayedSizeLocked(HelperState& state) {
  bool sideways = ((state.rotationDegrees % 180) + 180) % 180 == 90;
  if (state.pipeline.renderPath == RenderPath::software) {
    const int64_t caller = state.pipeline.publishedFileRotation.load(std::memory_order_acquire);
    sideways = caller >= 0 && quarterTurnsFor(state.streamRotation + caller) % 2 == 1;
  }
  state.videoWidth = sideways ? state.engineVideoHeight : state.engineVideoWidth;
  state.videoHeight = sideways ? state.engineVideoWidth : state.engineVideoHeight;
  applyRenderSizeLocked(state);
}

void applyTrackListLocked(HelperState& state, const mpv_node& node) {
  if (node.format != MPV_FORMAT_NODE_ARRAY || node.u.list == nullptr) return;
  std::vector<TrackInfo> audio;
  std::vector<TrackInfo> subtitles;
  const mpv_node_list& list = *node.u.list;
  for (int i = 0; i < list.num; ++i) {
    parseTrackNode(list.values[i], "audio", audio);
    parseTrackNode(list.values[i], "sub", subtitles);
  }
  state.audioTracks = std::move(audio);
  state.subtitleTracks = std::move(subtitles);
}

int64_t selectionOrNone(const char* text) {
  int64_t id = -1;
  return parseTrackSelection(text, id) ? id : -1;
}

std::string aspectOverrideFrom(const std::string& text) {
  return !text.empty() && std::atof(text.c_str()) > 0 ? text : "no";
}

// One observed property: the format it is applied in, what a new value does
// and what the property becoming unavailable does (null: nothing at all).
struct PropertyRule {
  const char* name;
  mpv_format format;
  void (*apply)(HelperState&, const void* data);
  void (*unavailable)(HelperState&);
};

const PropertyRule kPropertyRules[] = {
    {"time-pos", MPV_FORMAT_DOUBLE,
     [](HelperState& s, const void* d) { s.positionSeconds = doubleValue(d); }, nullptr},
    {"duration", MPV_FORMAT_DOUBLE,
     [](HelperState& s, const void* d) { s.durationSeconds = doubleValue(d); }, nullptr},
    {"pause", MPV_FORMAT_FLAG,
     [](HelperState& s, const void* d) { applyPauseLocked(s, flagValue(d)); }, nullptr},
    {"eof-reached", MPV_FORMAT_FLAG,
     [](HelperState& s, const void* d) {
       if (flagValue(d) && s.fileLoaded) s.status = "ended";
     },
     nullptr},
    {"volume", MPV_FORMAT_DOUBLE,
     [](HelperState& s, const void* d) { s.volume = doubleValue(d) / 100.0; }, nullptr},
    {"path", MPV_FORMAT_STRING, [](HelperState& s, const void* d) { s.streamUrl = stringValue(d); },
     nullptr},
    {"track-list", MPV_FORMAT_NODE,
     [](HelperState& s, const void* d) { applyTrackListLocked(s, nodeValue(d)); }, nullptr},
    {"aid", MPV_FORMAT_STRING,
     [](HelperState& s, const void* d) { s.selectedAudioTrackId = selectionOrNone(rawString(d)); },
     nullptr},
    {"sid", MPV_FORMAT_STRING,
     [](HelperState& s, const void* d) {
       s.selectedSubtitleTrackId = selectionOrNone(rawString(d));
     },
     nullptr},
    {"speed", MPV_FORMAT_DOUBLE,
     [](HelperState& s, const void* d) { s.playbackSpeed = doubleValue(d); }, nullptr},
    {"video-aspect-override", MPV_FORMAT_STRING,
     [](HelperState& s, const void* d) { s.aspectOverride = aspectOverrideFrom(stringValue(d)); },
     nullptr},
    {"dwidth", MPV_FORMAT_INT64,
     [](HelperState& s, const void* d) {
       s.engineVideoWidth = int64Value(d);
       applyDisplayedSizeLocked(s);
     },
     [](HelperState& s) {
       s.engineVideoWidth = 0;
       applyDisplayedSizeLocked(s);
     }},
    {"dheight", MPV_FORMAT_INT64,
     [](HelperState& s, const void* d) {
       s.engineVideoHeight = int64Value(d);
       applyDisplayedSizeLocked(s);
     },
     [](HelperState& s) {
       s.engineVideoHeight = 0;
       applyDisplayedSizeLocked(s);
     }},
    {"video-out-params/rotate", MPV_FORMAT_INT64,
     [](HelperState& s, const void* d) {
       s.rotationDegrees = int64Value(d);
       applyDisplayedSizeLocked(s);
     },
     [](HelperState& s) {
       s.rotationDegrees = 0;
       applyDisplayedSizeLocked(s);
     }},
    {"current-tracks/video/demux-rotation", MPV_FORMAT_INT64,
     [](HelperState& s, const void* d) {
       s.streamRotation = int64Value(d);
       applyDisplayedSizeLocked(s);
     },
     [](HelperState& s) {
       s.streamRotation = 0;
       applyDisplayedSizeLocked(s);
     }},
    {"estimated-vf-fps", MPV_FORMAT_DOUBLE,
     [](HelperState& s, const void* d) { s.fps = doubleValue(d); },
     [](HelperState& s) { s.fps = 0; }},
    {"video-bitrate", MPV_FORMAT_DOUBLE,
     [](HelperState& s, const void* d) { s.videoBitrateBps = doubleValue(d); },
     [](HelperState& s) { s.videoBitrateBps = 0; }},
    {"audio-bitrate", MPV_FORMAT_DOUBLE,
     [](HelperState& s, const void* d) { s.audioBitrateBps = doubleValue(d); },
     [](HelperState& s) { s.audioBitrateBps = 0; }},
    {"demuxer-cache-duration", MPV_FORMAT_DOUBLE,
     [](HelperState& s, const void* d) { s.bufferedAheadSeconds = doubleValue(d); },
     [](HelperState& s) { s.bufferedAheadSeconds = -1; }},
    {"audio-params/samplerate", MPV_FORMAT_INT64,
     [](HelperState& s, const void* d) { s.audioSampleRateHz = int64Value(d); },
     [](HelperState& s) { s.audioSampleRateHz = 0; }},
    {"frame-drop-count", MPV_FORMAT_INT64,
     [](HelperState& s, const void* d) { s.droppedFrames = int64Value(d); },
     [](HelperState& s) { s.droppedFrames = -1; }},
    {"decoder-frame-drop-count", MPV_FORMAT_INT64,
     [](HelperState& s, const void* d) { s.decoderDroppedFrames = int64Value(d); },
     [](HelperState& s) { s.decoderDroppedFrames = -1; }},
    {"video-format", MPV_FORMAT_STRING,
     [](HelperState& s, const void* d) { s.videoCodec = stringValue(d); },
     [](HelperState& s) { s.videoCodec.clear(); }},
    {"audio-codec-name", MPV_FORMAT_STRING,
     [](HelperState& s, const void* d) { s.audioCodec = stringValue(d); },
     [](HelperState& s) { s.audioCodec.clear(); }},
    {"audio-params/channels", MPV_FORMAT_STRING,
     [](HelperState& s, const void* d) { s.audioChannels = stringValue(d); },
     [](HelperState& s) { s.audioChannels.clear(); }},
    {"file-format", MPV_FORMAT_STRING,
     [](HelperState& s, const void* d) { s.container = stringValue(d); },
     [](HelperState& s) { s.container.clear(); }},
    {"chapter-list", MPV_FORMAT_NODE,
     [](HelperState& s, const void* d) { s.chapters = parseChapterList(nodeValue(d)); }, nullptr},
};

void handlePropertyChangeLocked(HelperState& state, const mpv_event_property* property) {
  if (property == nullptr || property->name == nullptr) return;
  for (const PropertyRule& rule : kPropertyRules) {
    if (std::strcmp(rule.name, property->name) != 0) continue;
    if (property->format == MPV_FORMAT_NONE) {
      if (rule.unavailable == nullptr) return;
      rule.unavailable(state);
    } else {
      if (property->format != rule.format || property->data == nullptr) return;
      rule.apply(state, property->data);
    }
    state.snapshotDirty = true;
    return;
  }
}

}  // namespace

void handleEngineEventLocked(HelperState& state, const mpv_event& event) {
  switch (event.event_id) {
    case MPV_EVENT_SHUTDOWN:
      state.running.store(false, std::memory_order_release);
      state.status = "closed";
      state.snapshotDirty = true;
      break;
    case MPV_EVENT_LOG_MESSAGE:
      handleLogMessageLocked(state, static_cast<const mpv_event_log_message*>(event.data));
      break;
    case MPV_EVENT_START_FILE:
      handleStartFileLocked(state);
      break;
    case MPV_EVENT_FILE_LOADED:
      // Whatever the engine complained about while opening (outputs and
      // decoders tried in turn, a late line of a replaced load), it recovered.
      state.fileLoaded = true;
      state.status = state.paused ? "paused" : "playing";
      state.error.clear();
      state.errorFromEngine = false;
      state.snapshotDirty = true;
      break;
    case MPV_EVENT_END_FILE:
      handleEndFileLocked(state, static_cast<const mpv_event_end_file*>(event.data));
      break;
    case MPV_EVENT_PROPERTY_CHANGE:
      handlePropertyChangeLocked(state, static_cast<const mpv_event_property*>(event.data));
      break;
    default:
      break;
  }
}

void runEventLoop(HelperState& state) {
  while (isRunning(state)) {
    mpv_event* event = mpv_wait_event(state.mpv, kEventWaitSeconds);
    if (event == nullptr) continue;
    bool clearRecording = false;
    if (event->event_id != MPV_EVENT_NONE) {
      std::lock_guard<std::mutex> lock(state.stateMutex);
      handleEngineEventLocked(state, *event);
      clearRecording = state.failedRecordingToClear;
    }
    if (clearRecording) clearFailedRecording(state);
    maybeEmitSnapshot(state, false);
  }
}

}  // namespace frame_helper
