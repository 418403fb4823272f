#include "output_lines.h"

#include <algorithm>
#include <cmath>

#include "json_writer.h"

namespace frame_helper {

namespace {

std::string chaptersJson(const std::vector<engine::Chapter>& chapters) {
  std::string out = "[";
  for (size_t i = 0; i < chapters.size(); ++i) {
    if (i > 0) out += ',';
    JsonWriter chapter;
    chapter.num("timeSeconds", chapters[i].timeSeconds);
    if (!chapters[i].title.empty()) chapter.str("title", chapters[i].title);
    out += chapter.finish();
  }
  out += ']';
  return out;
}

std::string statsJson(const HelperState& state) REQUIRES(state.stateMutex) {
  JsonWriter stats;
  engine::forEachKnownStat(
      state.stats, [&](const char* key, double value) { stats.num(key, value); },
      [&](const char* key, const std::string& value) { stats.str(key, value); });
  return stats.finish();
}

std::string recordingJson(const HelperState& state) REQUIRES(state.stateMutex) {
  JsonWriter recording;
  recording.boolean("active", state.recording.active);
  if (!state.recording.targetPath.empty()) recording.str("targetPath", state.recording.targetPath);
  if (!state.recording.startedAt.empty()) recording.str("startedAt", state.recording.startedAt);
  if (!state.recording.error.empty()) recording.str("error", state.recording.error);
  return recording.finish();
}

void trackIdOrNull(JsonWriter& writer, const char* key, int64_t id) {
  if (id >= 0) {
    writer.num(key, static_cast<double>(id));
  } else {
    writer.null(key);
  }
}

}  // namespace

std::string helloLine(int64_t pid) {
  return JsonWriter().str("event", "hello").integer("pid", pid).num("protocolVersion", 1).finish();
}

std::string shmLine(std::string_view name, int32_t width, int32_t height, uint32_t generation,
                    frame_ring::PixelLayout layout) {
  JsonWriter line;
  line.str("event", "shm")
      .str("name", name)
      .num("width", width)
      .num("height", height)
      .num("generation", generation);
  if (layout == frame_ring::PixelLayout::rgbaTopDown) line.str("layout", "rgba-top-down");
  return line.finish();
}

std::string fatalLine(std::string_view error) {
  return JsonWriter().str("event", "fatal").str("error", error).finish();
}

std::string renderReportLine(const RenderReport& report) {
  if (report.kind == RenderReport::Kind::fatal) return fatalLine(report.error);
  return shmLine(report.ringName, report.width, report.height, report.generation, report.layout);
}

std::string byeLine() { return JsonWriter().str("event", "bye").finish(); }

std::string logLine(std::string_view level, std::string_view prefix, std::string_view text) {
  return JsonWriter()
      .str("event", "log")
      .str("level", level)
      .str("prefix", prefix)
      .str("text", text)
      .finish();
}

std::string rejectedSessionOptionLine(std::string_view name, std::string_view engineError) {
  std::string text = "rejected session option ";
  text.append(name).append(": ").append(engineError);
  return logLine("warn", "orvanel", text);
}

std::string tracksJson(const std::vector<engine::Track>& tracks, int64_t selectedId) {
  std::string out = "[";
  for (size_t i = 0; i < tracks.size(); ++i) {
    const engine::Track& track = tracks[i];
    if (i > 0) out += ',';
    JsonWriter item;
    item.num("id", static_cast<double>(track.id));
    if (!track.title.empty()) item.str("title", track.title);
    if (!track.language.empty()) item.str("language", track.language);
    item.boolean("selected", track.id == selectedId);
    item.boolean("defaultTrack", track.defaultTrack);
    item.boolean("forced", track.forced);
    out += item.finish();
  }
  out += ']';
  return out;
}

std::string snapshotBodyLocked(const HelperState& state) {
  JsonWriter body;
  body.str("event", "snapshot");
  body.str("status", state.status);
  // fmax drops a not-a-number position in favour of 0.
  body.num("positionSeconds", std::fmax(state.positionSeconds, 0.0));
  body.num("videoWidth", static_cast<double>(state.videoWidth));
  body.num("videoHeight", static_cast<double>(state.videoHeight));
  if (state.durationSeconds >= 0) {
    body.num("durationSeconds", state.durationSeconds);
  } else {
    body.null("durationSeconds");
  }
  body.num("volume", std::clamp(state.volume, 0.0, 1.5));
  body.str("streamUrl", state.streamUrl);
  body.raw("audioTracks", tracksJson(state.media.audioTracks, state.media.selectedAudioTrackId));
  trackIdOrNull(body, "selectedAudioTrackId", state.media.selectedAudioTrackId);
  body.raw("subtitleTracks",
           tracksJson(state.media.subtitleTracks, state.media.selectedSubtitleTrackId));
  trackIdOrNull(body, "selectedSubtitleTrackId", state.media.selectedSubtitleTrackId);
  body.raw("chapters", chaptersJson(state.media.chapters));
  body.num("playbackSpeed", state.playbackSpeed);
  body.str("aspectOverride", state.aspectOverride);
  body.raw("stats", statsJson(state));
  body.raw("recording", recordingJson(state));
  engine::forEachBufferingKey(
      state.buffering, [&](const char* key, bool value) { body.boolean(key, value); },
      [&](const char* key, double value) { body.num(key, value); });
  if (!state.error.empty()) {
    body.str("error", state.error);
    if (state.errorFromEngine) body.str("errorOrigin", "engine");
  }
  return body.finish();
}

std::string probeUsableLine(std::string_view libmpvVersion, std::string_view renderApi) {
  return JsonWriter()
      .num("protocol", 1)
      .boolean("usable", true)
      .str("libmpv", libmpvVersion)
      .str("renderApi", renderApi)
      .finish();
}

std::string probeUnusableLine(std::string_view reason, std::string_view detail) {
  JsonWriter verdict;
  verdict.num("protocol", 1).boolean("usable", false).str("reason", reason);
  if (!detail.empty()) verdict.str("detail", detail);
  return verdict.finish();
}

}  // namespace frame_helper
