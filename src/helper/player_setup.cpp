#include "player_setup.h"

#include <algorithm>
#include <utility>

#include "json_writer.h"
#include "output_lines.h"

namespace frame_helper {

const ObservedProperty kObservedProperties[27] = {
    {1, "time-pos", MPV_FORMAT_DOUBLE},
    {2, "duration", MPV_FORMAT_DOUBLE},
    {3, "pause", MPV_FORMAT_FLAG},
    {4, "volume", MPV_FORMAT_DOUBLE},
    {5, "path", MPV_FORMAT_STRING},
    {6, "track-list", MPV_FORMAT_NODE},
    {7, "aid", MPV_FORMAT_STRING},
    {8, "sid", MPV_FORMAT_STRING},
    {9, "speed", MPV_FORMAT_DOUBLE},
    {10, "video-aspect-override", MPV_FORMAT_STRING},
    {11, "eof-reached", MPV_FORMAT_FLAG},
    {12, "dwidth", MPV_FORMAT_INT64},
    {13, "dheight", MPV_FORMAT_INT64},
    {14, "estimated-vf-fps", MPV_FORMAT_DOUBLE},
    {15, "video-bitrate", MPV_FORMAT_DOUBLE},
    {16, "audio-bitrate", MPV_FORMAT_DOUBLE},
    {17, "video-format", MPV_FORMAT_STRING},
    {18, "audio-codec-name", MPV_FORMAT_STRING},
    {19, "file-format", MPV_FORMAT_STRING},
    {20, "demuxer-cache-duration", MPV_FORMAT_DOUBLE},
    {21, "frame-drop-count", MPV_FORMAT_INT64},
    {22, "decoder-frame-drop-count", MPV_FORMAT_INT64},
    {23, "audio-params/channels", MPV_FORMAT_STRING},
    {24, "audio-params/samplerate", MPV_FORMAT_INT64},
    {25, "chapter-list", MPV_FORMAT_NODE},
    // The quarter turns the renderer still applies; other angles are turned
    // by a filter and already show in "dwidth" / "dheight".
    {26, "video-out-params/rotate", MPV_FORMAT_INT64},
    // The software path keeps the engine from turning (its renderer cannot)
    // and turns the picture itself, by the stream's rotation plus the
    // caller's video-rotate.
    {27, "current-tracks/video/demux-rotation", MPV_FORMAT_INT64},
};

namespace {

constexpr const char* kPreambleName = "mpv-options";

void setFixedOptions(mpv_handle* mpv, const HelperArgs& args) {
  mpv_set_option_string(mpv, "vo", "libmpv");
  mpv_set_option_string(mpv, "hwdec", args.hwdec.c_str());
  mpv_set_option_string(mpv, "keep-open", "yes");
  // The engine would otherwise pause itself at the end of a file, a pause
  // that carries over and brings the next load up paused. Pauses are the
  // caller's only; the end still shows through "eof-reached".
  mpv_set_option_string(mpv, "keep-open-pause", "no");
  mpv_set_option_string(mpv, "idle", "yes");
  mpv_set_option_string(mpv, "input-default-bindings", "no");
  mpv_set_option_string(mpv, "osc", "no");
  mpv_set_option_string(mpv, "ytdl", "no");
  if (!args.audioDelay.empty()) mpv_set_option_string(mpv, "audio-delay", args.audioDelay.c_str());
}

bool readPreamble(std::FILE* input, Command& preamble, std::string& error) {
  std::string line;
  if (!readInputLine(input, line)) {
    error = "mpv-options preamble missing on stdin";
    return false;
  }
  preamble = parseCommandLine(line);
  if (preamble.name != kPreambleName) {
    error = "expected the mpv-options preamble on stdin";
    return false;
  }
  return true;
}

void applySessionOptions(mpv_handle* mpv, const Command& preamble,
                         std::set<std::string>& appliedSessionOptions) {
  for (const SessionOption& option : sessionOptionsFromPreamble(preamble)) {
    const int result = mpv_set_option_string(mpv, option.name.c_str(), option.value.c_str());
    if (result < 0) {
      emitLine(rejectedSessionOptionLine(option.name, mpv_error_string(result)));
    } else {
      appliedSessionOptions.insert(option.name);
    }
  }
}

// Frees the engine of a failed set-up; always false.
bool abandonEngine(HelperState& state) {
  mpv_terminate_destroy(state.mpv);
  state.mpv = nullptr;
  return false;
}

}  // namespace

std::vector<SessionOption> sessionOptionsFromPreamble(const Command& preamble) {
  std::vector<std::pair<std::string, std::string>> entries(preamble.fields.begin(),
                                                           preamble.fields.end());
  std::sort(entries.begin(), entries.end());  // keys are unique: byte-wise by key
  std::vector<SessionOption> options;
  for (const auto& [key, text] : entries) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) continue;
    options.push_back({text.substr(0, eq), text.substr(eq + 1)});
  }
  return options;
}

double initialEngineVolume(double volume) { return volume < 0 ? 0 : std::min(volume, 1.0) * 100; }

bool setupPlayer(HelperState& state, const HelperArgs& args, std::FILE* input,
                 std::set<std::string>& appliedSessionOptions, std::string& error) {
  state.mpv = mpv_create();
  if (state.mpv == nullptr) {
    error = "mpv_create failed";
    return false;
  }
  setFixedOptions(state.mpv, args);
  if (args.mpvOptionsStdin) {
    Command preamble;
    if (!readPreamble(input, preamble, error)) return abandonEngine(state);
    applySessionOptions(state.mpv, preamble, appliedSessionOptions);
  }
  if (mpv_initialize(state.mpv) < 0) {
    error = "mpv_initialize failed";
    return abandonEngine(state);
  }
  mpv_request_log_messages(state.mpv, "warn");
  double volume = initialEngineVolume(args.volume);
  mpv_set_property(state.mpv, "volume", MPV_FORMAT_DOUBLE, &volume);
  for (const ObservedProperty& property : kObservedProperties) {
    mpv_observe_property(state.mpv, property.replyId, property.name, property.format);
  }
  return true;
}

}  // namespace frame_helper
