#include "stream_end.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace engine {

namespace {

// Where the engine reports network and container failures: libavformat's
// protocols ("ffmpeg": "http: Stream ends prematurely ...") and demuxers, and
// its own stream and demuxer layers. Audio outputs and decoders (which log
// while they probe) are not among them.
bool isStreamModule(std::string_view prefix) {
  return prefix == "ffmpeg" || prefix == "ffmpeg/demuxer" || prefix == "demux" ||
         prefix == "stream" || prefix == "cache";
}

// libavformat's HLS demuxer skips a segment it cannot open and plays on; it
// says so only in this warning. A segment that opens on a second try (a new
// connection) never logs it.
bool isLostSegmentLine(std::string_view prefix, std::string_view text) {
  return prefix == "ffmpeg/demuxer" && text.find("Failed to open segment") != std::string_view::npos;
}

// A file that played out stops within a frame or two of its duration and
// reads its stream to the end, but for an index or tags a demuxer that
// cannot seek leaves unread (a few hundred bytes of Matroska cues; an MP4
// index at the end, which is well under a fiftieth of the file). A duration
// libavformat estimated from the bit rate can be off by a few percent.
bool bytesShort(int64_t read, int64_t announced) {
  return read < announced - std::max<int64_t>(64 * 1024, announced / 50);
}

bool timeShort(double position, double duration) {
  return position < duration - std::max(1.0, duration * 0.05);
}

int64_t readInt64(mpv_handle* mpv, const char* name) {
  int64_t value = -1;
  return mpv_get_property(mpv, name, MPV_FORMAT_INT64, &value) >= 0 ? value : -1;
}

double readDouble(mpv_handle* mpv, const char* name) {
  double value = -1;
  return mpv_get_property(mpv, name, MPV_FORMAT_DOUBLE, &value) >= 0 ? value : -1;
}

}  // namespace

bool reportsStreamEnd(const mpv_event& event) {
  if (event.event_id == MPV_EVENT_END_FILE) {
    const auto* end = static_cast<const mpv_event_end_file*>(event.data);
    return end && end->reason == MPV_END_FILE_REASON_EOF;
  }
  if (event.event_id != MPV_EVENT_PROPERTY_CHANGE) return false;
  const auto* property = static_cast<const mpv_event_property*>(event.data);
  return property && property->name && std::strcmp(property->name, "eof-reached") == 0 &&
         property->format == MPV_FORMAT_FLAG && property->data &&
         *static_cast<const int*>(property->data) != 0;
}

StreamEndFacts readStreamEndFacts(mpv_handle* mpv) {
  StreamEndFacts facts;
  facts.positionSeconds = readDouble(mpv, "time-pos");
  facts.durationSeconds = readDouble(mpv, "duration");
  facts.bytesRead = readInt64(mpv, "stream-pos");
  facts.bytesAnnounced = readInt64(mpv, "stream-end");
  return facts;
}

void noteStreamLine(StreamWatch& watch, std::string_view level, std::string_view prefix,
                    const char* text) {
  if (!text) return;
  if (level == "warn") {
    if (watch.lostSegmentLine.empty() && isLostSegmentLine(prefix, text)) {
      watch.lostSegmentLine = text;
    }
  } else if ((level == "error" || level == "fatal") && isStreamModule(prefix)) {
    watch.faultLine = text;
  }
}

std::string cutStreamText(const StreamWatch& watch, const StreamEndFacts& facts) {
  if (!watch.lostSegmentLine.empty()) return watch.lostSegmentLine;
  const bool bytesKnown = facts.bytesAnnounced > 0 && facts.bytesRead >= 0;
  const bool timeKnown = facts.durationSeconds > 0 && facts.positionSeconds >= 0;
  // Each measure that is known must say "short": a live stream with neither
  // is never judged, an HLS playlist (no byte size) by its time alone.
  if (!bytesKnown && !timeKnown) return "";
  if (bytesKnown && !bytesShort(facts.bytesRead, facts.bytesAnnounced)) return "";
  if (timeKnown && !timeShort(facts.positionSeconds, facts.durationSeconds)) return "";
  if (!watch.faultLine.empty()) return watch.faultLine;
  char text[160];
  if (timeKnown) {
    std::snprintf(text, sizeof text, "The stream ended early, at %.1f s of %.1f s.",
                  facts.positionSeconds, facts.durationSeconds);
  } else {
    std::snprintf(text, sizeof text, "The stream ended early, at byte %lld of %lld.",
                  static_cast<long long>(facts.bytesRead),
                  static_cast<long long>(facts.bytesAnnounced));
  }
  return text;
}

}  // namespace engine
