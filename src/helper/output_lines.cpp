#include "output_lines.h"

#include "helper_profile.h"
#include "json_writer.h"
#include "snapshot_writer.h"

namespace frame_helper {

namespace {

// Writes what the snapshot visitor (snapshot_writer.h) gives into one JSON
// object.
struct JsonSink {
  JsonWriter& out;

  void number(const char* key, double value) { out.num(key, value); }
  void text(const char* key, std::string_view value) { out.str(key, value); }
  void boolean(const char* key, bool value) { out.boolean(key, value); }
  void null(const char* key) { out.null(key); }

  template <typename Fill>
  void object(const char* key, Fill fill) {
    JsonWriter inner;
    JsonSink sink{inner};
    fill(sink);
    out.raw(key, inner.finish());
  }

  template <typename Fill>
  void list(const char* key, size_t count, Fill fill) {
    std::string array = "[";
    for (size_t i = 0; i < count; ++i) {
      if (i > 0) array += ',';
      JsonWriter item;
      JsonSink sink{item};
      fill(i, sink);
      array += item.finish();
    }
    array += ']';
    out.raw(key, array);
  }

  void texts(const char* key, const std::vector<std::string>& values) {
    std::string array = "[";
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) array += ',';
      array += '"' + jsonEscape(values[i]) + '"';
    }
    array += ']';
    out.raw(key, array);
  }
};

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

std::string snapshotBodyLocked(const HelperState& state) {
  // The engine refuses the helper's options before its first line: those go
  // out as "log" lines (rejectedSessionOptionLine).
  static const std::vector<std::string> kNoRejectedKeys;
  const engine::SnapshotFields fields{
      .status = state.status,
      .positionSeconds = state.positionSeconds,
      .videoWidth = state.videoWidth,
      .videoHeight = state.videoHeight,
      .durationSeconds = state.durationSeconds,
      .volume = state.volume,
      .streamUrl = state.streamUrl,
      .media = state.media,
      .playbackSpeed = state.playbackSpeed,
      .aspectOverride = state.aspectOverride,
      .stats = state.stats,
      .recording = state.recording,
      .buffering = state.buffering,
      .error = state.error,
      .errorFromEngine = state.errorFromEngine,
      .rejectedOptionKeys = kNoRejectedKeys,
  };
  JsonWriter body;
  body.str("event", "snapshot");
  JsonSink sink{body};
  engine::writeSnapshot(fields, kHelperProfile.snapshot, sink);
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
