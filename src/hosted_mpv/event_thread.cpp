// The per-session event thread.
// Threads: the event thread; it takes the session's stateMutex for each event
// (never while waiting for the engine). Log lines are written under the lock.
#include "event_thread.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine_text.h"

namespace hosted_mpv {

const ObservedProperty kObservedProperties[23] = {
    {"time-pos", MPV_FORMAT_DOUBLE},
    {"duration", MPV_FORMAT_DOUBLE},
    {"pause", MPV_FORMAT_FLAG},
    {"volume", MPV_FORMAT_DOUBLE},
    {"path", MPV_FORMAT_STRING},
    {"track-list", MPV_FORMAT_NODE},
    {"aid", MPV_FORMAT_STRING},
    {"sid", MPV_FORMAT_STRING},
    {"speed", MPV_FORMAT_DOUBLE},
    {"video-aspect-override", MPV_FORMAT_STRING},
    {"eof-reached", MPV_FORMAT_FLAG},
    {"estimated-vf-fps", MPV_FORMAT_DOUBLE},
    {"video-bitrate", MPV_FORMAT_DOUBLE},
    {"audio-bitrate", MPV_FORMAT_DOUBLE},
    {"video-format", MPV_FORMAT_STRING},
    {"audio-codec-name", MPV_FORMAT_STRING},
    {"file-format", MPV_FORMAT_STRING},
    {"demuxer-cache-duration", MPV_FORMAT_DOUBLE},
    {"frame-drop-count", MPV_FORMAT_INT64},
    {"decoder-frame-drop-count", MPV_FORMAT_INT64},
    {"audio-params/channels", MPV_FORMAT_STRING},
    {"audio-params/samplerate", MPV_FORMAT_INT64},
    {"chapter-list", MPV_FORMAT_NODE},
};

namespace {

constexpr size_t kMaxChapters = 256;
constexpr size_t kMaxChapterTitleBytes = 256;

// The value of the first entry named `key` of a node map, or null.
const mpv_node* findMapValue(const mpv_node& map, const char* key) {
  if (map.format != MPV_FORMAT_NODE_MAP || !map.u.list) return nullptr;
  const mpv_node_list& list = *map.u.list;
  for (int i = 0; i < list.num; ++i) {
    if (list.keys && list.keys[i] && std::strcmp(list.keys[i], key) == 0) return &list.values[i];
  }
  return nullptr;
}

std::string readMapString(const mpv_node& map, const char* key) {
  const mpv_node* value = findMapValue(map, key);
  return value ? readNodeString(*value) : std::string();
}

bool readMapFlag(const mpv_node& map, const char* key) {
  const mpv_node* value = findMapValue(map, key);
  return value && readNodeFlag(*value);
}

bool readTrackId(const mpv_node& value, int64_t& id) {
  switch (value.format) {
    case MPV_FORMAT_STRING:
      return value.u.string && parseIntegerString(value.u.string, id);
    case MPV_FORMAT_DOUBLE:
      // Truncated toward zero; a value no 64-bit integer can hold is no id.
      if (!std::isfinite(value.u.double_) || std::fabs(value.u.double_) >= 9.2e18) return false;
      id = int64_t(value.u.double_);
      return true;
    case MPV_FORMAT_INT64:
      id = value.u.int64;
      return true;
    default:
      return false;
  }
}

bool isContinuationByte(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte >= 0x80 && byte <= 0xbf;
}

// Cuts a title to at most 256 bytes without splitting a UTF-8 sequence.
void cutChapterTitle(std::string& title) {
  if (title.size() <= kMaxChapterTitleBytes) return;
  size_t length = 0;
  for (size_t offset = kMaxChapterTitleBytes; offset >= 1; --offset) {
    if (!isContinuationByte(title[offset])) {
      length = offset;
      break;
    }
  }
  title.resize(length);
}

// Stores the rotation metadata of the selected video track of a track-list
// value (0 when it has none). A list without a selected video track (the
// engine's list while it opens the next file, or audio only) keeps the last
// rotation: the frame on show is still that of the last video.
void updateStreamRotationLocked(Session& session, const mpv_node& node) {
  if (node.format != MPV_FORMAT_NODE_ARRAY || !node.u.list) return;
  const mpv_node_list& list = *node.u.list;
  for (int i = 0; i < list.num; ++i) {
    const mpv_node& element = list.values[i];
    if (readMapString(element, "type") != "video" || !readMapFlag(element, "selected")) continue;
    const mpv_node* rotation = findMapValue(element, "demux-rotation");
    int64_t degrees = 0;
    if (!rotation || !readTrackId(*rotation, degrees)) degrees = 0;
    session.streamRotation = int(((degrees % 360) + 360) % 360);
    return;
  }
}

// Engines before 0.36 report "no override" as a negative number ("-1.000000");
// the snapshot says "no" for it, as it does before the engine reports.
std::string normalizeAspectOverride(const std::string& value) {
  if (value.empty()) return value;
  char* end = nullptr;
  double number = std::strtod(value.c_str(), &end);
  return end == value.c_str() + value.size() && number < 0 ? "no" : value;
}

// The engine's recorder failing a recording that runs: the engine goes on
// playing without recording, but keeps the target in "stream-record".
void handleRecorderFailureLocked(Session& session, const std::string& text) {
  SessionSnapshot& snapshot = session.snapshot;
  // While a recording request is on its way, the line may belong to the target
  // that request replaces; its reply settles the state instead.
  if (!snapshot.recordingActive || recordingReplyPending(session.replies)) return;
  showRecordingStopped(snapshot, text.substr(0, text.find_last_not_of('\n') + 1));
  session.engineHoldsFailedRecording = true;
}

// Error and fatal lines never change the status: the engine logs them also
// for what it recovers from (audio outputs and hardware decoders tried in
// turn), and it arrives after the events that followed it in time. They
// describe the load only while it has not started playing; the end of a file
// with an error and a refused load set the status themselves.
void handleLogLocked(Session& session, const mpv_event_log_message* message) {
  if (!message || !message->level || !message->text) return;
  std::string level = message->level;
  if (level != "warn" && level != "error" && level != "fatal") return;
  std::fprintf(stderr, "[hosted-mpv][%s][%s] %s: %s", session.id.c_str(), message->level,
               message->prefix ? message->prefix : "mpv", message->text);
  if (level == "warn") return;
  if (message->prefix && std::strcmp(message->prefix, "recorder") == 0) {
    handleRecorderFailureLocked(session, message->text);
  }
  SessionSnapshot& snapshot = session.snapshot;
  if (snapshot.status != SessionStatus::loading && snapshot.status != SessionStatus::error) return;
  snapshot.error = message->text;
  if (level == "fatal") snapshot.errorFromEngine = true;
}

void handleReplyLocked(Session& session, uint64_t replyId, int error) {
  if (settleReplyLocked(session.replies, session.snapshot, replyId, error)) return;
  if (error < 0) session.snapshot.error = engineText(error);
}

void handleStartFileLocked(Session& session) {
  SessionSnapshot& snapshot = session.snapshot;
  snapshot.status = SessionStatus::loading;
  snapshot.error.clear();
  snapshot.errorFromEngine = false;
  snapshot.fps = 0;
  snapshot.videoBitrateBps = 0;
  snapshot.audioBitrateBps = 0;
  snapshot.videoCodec.clear();
  snapshot.audioCodec.clear();
  snapshot.audioChannels.clear();
  snapshot.container.clear();
  snapshot.audioSampleRateHz = 0;
  snapshot.bufferedAheadSeconds = -1;
  snapshot.frameDropCount = -1;
  snapshot.decoderFrameDropCount = -1;
  snapshot.audioTracks.clear();
  snapshot.selectedAudioTrackId = -1;
  snapshot.subtitleTracks.clear();
  snapshot.selectedSubtitleTrackId = -1;
  snapshot.chapters.clear();
  session.fileLoaded = false;
}

void handleEndFileLocked(Session& session, const mpv_event_end_file* endFile) {
  SessionSnapshot& snapshot = session.snapshot;
  bool running = session.running.load(std::memory_order_acquire);
  if (endFile && endFile->reason == MPV_END_FILE_REASON_ERROR) {
    snapshot.status = SessionStatus::error;
    // A fatal line of this load already said why, in the engine's own words.
    if (snapshot.errorFromEngine && !snapshot.error.empty()) return;
    snapshot.error = endFile->error < 0 ? engineText(endFile->error) : "Playback failed.";
    return;
  }
  if (endFile && endFile->reason == MPV_END_FILE_REASON_EOF && running) {
    snapshot.status = SessionStatus::ended;
    return;
  }
  if (endFile && endFile->reason == MPV_END_FILE_REASON_REDIRECT && running) {
    snapshot.status = SessionStatus::loading;
    snapshot.error.clear();
    snapshot.errorFromEngine = false;
    session.fileLoaded = false;
    return;
  }
  if (running) snapshot.status = SessionStatus::idle;
}

// A property that lost its value: only the statistics reset.
void handlePropertyGoneLocked(SessionSnapshot& snapshot, const std::string& name) {
  if (name == "video-format")
    snapshot.videoCodec.clear();
  else if (name == "audio-codec-name")
    snapshot.audioCodec.clear();
  else if (name == "audio-params/channels")
    snapshot.audioChannels.clear();
  else if (name == "file-format")
    snapshot.container.clear();
  else if (name == "video-bitrate")
    snapshot.videoBitrateBps = 0;
  else if (name == "audio-bitrate")
    snapshot.audioBitrateBps = 0;
  else if (name == "estimated-vf-fps")
    snapshot.fps = 0;
  else if (name == "audio-params/samplerate")
    snapshot.audioSampleRateHz = 0;
  else if (name == "demuxer-cache-duration")
    snapshot.bufferedAheadSeconds = -1;
  else if (name == "frame-drop-count")
    snapshot.frameDropCount = -1;
  else if (name == "decoder-frame-drop-count")
    snapshot.decoderFrameDropCount = -1;
}

void handlePropertyChangeLocked(Session& session, const mpv_event_property* property) {
  if (!property || !property->name) return;
  SessionSnapshot& snapshot = session.snapshot;
  const std::string name = property->name;
  if (property->format == MPV_FORMAT_NONE) {
    handlePropertyGoneLocked(snapshot, name);
    return;
  }
  if (!property->data) return;
  switch (property->format) {
    case MPV_FORMAT_DOUBLE: {
      double value = *static_cast<const double*>(property->data);
      if (name == "time-pos")
        snapshot.positionSeconds = value;
      else if (name == "duration")
        snapshot.durationSeconds = value;
      else if (name == "volume")
        snapshot.volume = value;
      else if (name == "speed")
        snapshot.playbackSpeed = value;
      else if (name == "estimated-vf-fps")
        snapshot.fps = value;
      else if (name == "video-bitrate")
        snapshot.videoBitrateBps = value;
      else if (name == "audio-bitrate")
        snapshot.audioBitrateBps = value;
      else if (name == "demuxer-cache-duration")
        snapshot.bufferedAheadSeconds = value;
      return;
    }
    case MPV_FORMAT_FLAG: {
      bool value = *static_cast<const int*>(property->data) != 0;
      if (name == "pause") {
        session.paused = value;
        SessionStatus status = snapshot.status;
        if (status != SessionStatus::loading && status != SessionStatus::ended &&
            status != SessionStatus::error && session.fileLoaded) {
          snapshot.status = value ? SessionStatus::paused : SessionStatus::playing;
        }
      } else if (name == "eof-reached") {
        if (value && session.running.load(std::memory_order_acquire) && session.fileLoaded) {
          snapshot.status = SessionStatus::ended;
        }
      }
      return;
    }
    case MPV_FORMAT_INT64: {
      int64_t value = *static_cast<const int64_t*>(property->data);
      if (name == "frame-drop-count")
        snapshot.frameDropCount = value;
      else if (name == "decoder-frame-drop-count")
        snapshot.decoderFrameDropCount = value;
      else if (name == "audio-params/samplerate")
        snapshot.audioSampleRateHz = value;
      return;
    }
    case MPV_FORMAT_STRING: {
      const char* text = *static_cast<char* const*>(property->data);
      std::string value = text ? text : "";
      int64_t id;
      if (name == "path") {
        snapshot.streamUrl = value;
      } else if (name == "aid") {
        if (parseIntegerString(value, id)) {
          selectTrack(snapshot.audioTracks, snapshot.selectedAudioTrackId, id);
        }
      } else if (name == "sid") {
        selectTrack(snapshot.subtitleTracks, snapshot.selectedSubtitleTrackId,
                    parseIntegerString(value, id) ? id : -1);
      } else if (name == "video-aspect-override") {
        snapshot.aspectOverride = normalizeAspectOverride(value);
      } else if (name == "video-format") {
        snapshot.videoCodec = value;
      } else if (name == "audio-codec-name") {
        snapshot.audioCodec = value;
      } else if (name == "audio-params/channels") {
        snapshot.audioChannels = value;
      } else if (name == "file-format") {
        snapshot.container = value;
      }
      return;
    }
    case MPV_FORMAT_NODE: {
      const auto& node = *static_cast<const mpv_node*>(property->data);
      if (name == "track-list") {
        updateTracksFromNode(node, "audio", snapshot.audioTracks, snapshot.selectedAudioTrackId);
        updateTracksFromNode(node, "sub", snapshot.subtitleTracks,
                             snapshot.selectedSubtitleTrackId);
        updateStreamRotationLocked(session, node);
      } else if (name == "chapter-list") {
        updateChaptersFromNode(snapshot, node);
      }
      return;
    }
    default:
      return;
  }
}

}  // namespace

std::string readNodeString(const mpv_node& node) {
  switch (node.format) {
    case MPV_FORMAT_STRING:
      return node.u.string ? node.u.string : "";
    case MPV_FORMAT_DOUBLE: {
      char text[64];
      std::snprintf(text, sizeof text, "%g", node.u.double_);
      return text;
    }
    case MPV_FORMAT_INT64:
      return std::to_string(node.u.int64);
    default:
      return "";
  }
}

bool readNodeFlag(const mpv_node& node) {
  switch (node.format) {
    case MPV_FORMAT_FLAG:
      return node.u.flag != 0;
    case MPV_FORMAT_STRING: {
      std::string text = node.u.string ? node.u.string : "";
      for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
      return text == "yes" || text == "true" || text == "1";
    }
    default:
      return false;
  }
}

bool parseIntegerString(const std::string& text, int64_t& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size()) return false;
  out = value;
  return true;
}

void updateTracksFromNode(const mpv_node& node, const char* kind, std::vector<AudioTrack>& tracks,
                          int64_t& selectedId) {
  tracks.clear();
  selectedId = -1;
  if (node.format != MPV_FORMAT_NODE_ARRAY || !node.u.list) return;
  const mpv_node_list& list = *node.u.list;
  for (int i = 0; i < list.num; ++i) {
    const mpv_node& element = list.values[i];
    if (element.format != MPV_FORMAT_NODE_MAP) continue;
    const mpv_node* type = findMapValue(element, "type");
    if (!type || readNodeString(*type) != kind) continue;
    const mpv_node* idValue = findMapValue(element, "id");
    AudioTrack track;
    if (!idValue || !readTrackId(*idValue, track.id) || track.id < 0) continue;
    track.title = readMapString(element, "title");
    track.language = readMapString(element, "lang");
    track.selected = readMapFlag(element, "selected");
    track.defaultTrack = readMapFlag(element, "default");
    track.forced = readMapFlag(element, "forced");
    if (track.selected) selectedId = track.id;
    tracks.push_back(std::move(track));
  }
}

void updateChaptersFromNode(SessionSnapshot& snapshot, const mpv_node& node) {
  snapshot.chapters.clear();
  if (node.format != MPV_FORMAT_NODE_ARRAY || !node.u.list || node.u.list->num < 1) return;
  const mpv_node_list& list = *node.u.list;
  for (int i = 0; i < list.num && snapshot.chapters.size() < kMaxChapters; ++i) {
    const mpv_node& element = list.values[i];
    if (element.format != MPV_FORMAT_NODE_MAP) continue;
    const mpv_node* time = findMapValue(element, "time");
    if (!time) continue;
    Chapter chapter;
    if (time->format == MPV_FORMAT_INT64) {
      chapter.timeSeconds = double(time->u.int64);
    } else if (time->format == MPV_FORMAT_DOUBLE) {
      chapter.timeSeconds = time->u.double_;
    } else {
      continue;
    }
    if (!std::isfinite(chapter.timeSeconds)) continue;
    chapter.title = readMapString(element, "title");
    cutChapterTitle(chapter.title);
    snapshot.chapters.push_back(std::move(chapter));
  }
}

void handleSessionEventLocked(Session& session, const mpv_event& event) {
  switch (event.event_id) {
    case MPV_EVENT_SHUTDOWN:
      session.running.store(false, std::memory_order_release);
      session.snapshot.status = SessionStatus::closed;
      break;
    case MPV_EVENT_LOG_MESSAGE:
      handleLogLocked(session, static_cast<const mpv_event_log_message*>(event.data));
      break;
    case MPV_EVENT_SET_PROPERTY_REPLY:
    case MPV_EVENT_COMMAND_REPLY:
      handleReplyLocked(session, event.reply_userdata, event.error);
      break;
    case MPV_EVENT_START_FILE:
      handleStartFileLocked(session);
      break;
    case MPV_EVENT_END_FILE:
      handleEndFileLocked(session, static_cast<const mpv_event_end_file*>(event.data));
      break;
    case MPV_EVENT_FILE_LOADED:
      // Whatever the engine complained about while opening, it recovered from.
      session.fileLoaded = true;
      session.snapshot.status = session.paused ? SessionStatus::paused : SessionStatus::playing;
      session.snapshot.error.clear();
      session.snapshot.errorFromEngine = false;
      break;
    case MPV_EVENT_PROPERTY_CHANGE:
      handlePropertyChangeLocked(session, static_cast<const mpv_event_property*>(event.data));
      break;
    default:
      break;
  }
}

void runEventLoop(SessionRef session) {
  if (!session->running.load(std::memory_order_acquire)) return;
  do {
    mpv_event* event = mpv_wait_event(session->mpv, 0.1);
    if (event && event->event_id != MPV_EVENT_NONE) {
      std::lock_guard lock(session->stateMutex);
      handleSessionEventLocked(*session, *event);
    }
  } while (session->running.load(std::memory_order_acquire));
}

}  // namespace hosted_mpv
