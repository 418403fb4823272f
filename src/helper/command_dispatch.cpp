#include "command_dispatch.h"

#include <mpv/client.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <ctime>
#include <string_view>
#include <utility>
#include <vector>

#include "buffering.h"
#include "helper_properties.h"
#include "json_writer.h"
#include "loadfile.h"
#include "output_lines.h"
#include "playback_rules.h"
#include "recording_machine.h"
#include "render_size.h"
#include "source_kinds.h"
#include "url_policy.h"
#include "utc_time.h"

namespace frame_helper {

namespace {

constexpr std::string_view kOptionPrefix = "opt.";
constexpr int32_t kMinRenderSide = 16;

std::string textField(const Command& command, const std::string& key, const char* fallback) {
  const auto it = command.fields.find(key);
  return it == command.fields.end() ? std::string(fallback) : it->second;
}

// The upper bound first, then the lower one. Not-a-number passes both and
// the engine refuses it.
double limit(double value, double low, double high) {
  if (value > high) value = high;
  if (value < low) value = low;
  return value;
}

void setDouble(HelperState& state, const char* property, double value) EXCLUDES(state.stateMutex) {
  mpv_set_property(state.mpv, property, MPV_FORMAT_DOUBLE, &value);
}

void setText(HelperState& state, const char* property, const std::string& value)
    EXCLUDES(state.stateMutex) {
  mpv_set_property_string(state.mpv, property, value.c_str());
}

void seek(HelperState& state, const Command& command, const char* mode) EXCLUDES(state.stateMutex) {
  const std::string seconds = std::to_string(command.getDouble("seconds", 0));
  const char* args[] = {"seek", seconds.c_str(), mode, nullptr};
  mpv_command(state.mpv, args);
}

// Sets "stream-record" as the recording machine asks; 0 when it asks nothing.
// Holding no lock but commandMutex, which keeps other requests out meanwhile.
int sendRecordRequest(HelperState& state, const engine::RecordRequest& request)
    EXCLUDES(state.stateMutex) {
  if (!request.send) return 0;
  return mpv_set_property_string(state.mpv, "stream-record", request.target.c_str());
}

// Empty when the load may go to the engine, else why not: a malformed or (under
// the policy) not allowed per-load option, or a URL of a scheme not allowed.
// The engine's own check (url_guard.h) would refuse the URL too, but only once
// the load's options were applied.
std::string loadRefusal(const HelperState& state, const Command& command, const std::string& url) {
  for (const auto& [key, value] : command.fields) {
    if (!key.starts_with(kOptionPrefix) || value.empty()) continue;
    std::string refusal = engine::loadOptionRefusal(
        std::string_view(key).substr(kOptionPrefix.size()), value, state.urlPolicy.has_value());
    if (!refusal.empty()) return refusal;
  }
  return state.urlPolicy ? engine::urlRefusal(*state.urlPolicy, url) : "";
}

// Nothing is sent but the end of what plays: the refusal is the snapshot's
// error until the next load starts (applyRefusal).
void refuseLoad(HelperState& state, const std::string& url, std::string refusal)
    EXCLUDES(state.stateMutex) {
  {
    threads::MutexLock lock(state.stateMutex);
    state.streamUrl = url;
    engine::applyRefusal(loadStateOf(state), std::move(refusal));
    state.snapshotDirty = true;
  }
  const char* stop[] = {"stop", nullptr};
  mpv_command(state.mpv, stop);
}

void handleLoad(HelperState& state, const Command& command) EXCLUDES(state.stateMutex) {
  const std::string url = textField(command, "url", "");
  if (url.empty()) return;
  if (std::string refusal = loadRefusal(state, command, url); !refusal.empty()) {
    refuseLoad(state, url, std::move(refusal));
    return;
  }
  engine::RecordRequest clearRecording;
  engine::LoadOptions options;
  {
    threads::MutexLock lock(state.stateMutex);
    // Also when the snapshot says no recording runs: the engine may still
    // hold a path it failed to open, and would record this file there.
    clearRecording = engine::recordingLoadStarting(kHelperProfile.recording, state.recordingMachine,
                                                   state.recording, 0);
    engine::recordingLoadRequested(kHelperProfile.recording, state.recordingMachine,
                                   state.recording);
    state.streamUrl = url;
    engine::applyLoadRequested(loadStateOf(state), state.buffering);
    clearFileFactsLocked(state);
    state.source.load = {url, loadOptionsOf(command)};
    options = state.source.load.options;
    state.snapshotDirty = true;
  }
  sendRecordRequest(state, clearRecording);  // result ignored: the load goes on
  const int result = engine::sendLoadfile(state.mpv, kHelperProfile.loadfile, 0, url, options);
  if (result < 0) {
    threads::MutexLock lock(state.stateMutex);
    engine::withdrawLoadRequest(loadStateOf(state));
    state.status = engine::PlaybackStatus::error;
    state.error = mpv_error_string(result);
    state.snapshotDirty = true;
  }
}

// A side that is a number of at least 16 which fits 32 bits; infinities,
// not-a-number and overflowing texts are malformed, not large.
bool isBoxSide(double value) {
  return value >= kMinRenderSide && value < static_cast<double>(INT32_MAX) + 1.0;
}

void handleSize(HelperState& state, const Command& command) EXCLUDES(state.stateMutex) {
  const double requestedWidth = command.getDouble("width", 0);
  const double requestedHeight = command.getDouble("height", 0);
  // Any box is taken, however large: the fitted ring is what is bounded
  // (fitRenderSize).
  if (!isBoxSide(requestedWidth) || !isBoxSide(requestedHeight)) return;
  const int32_t width = truncateToInt32(requestedWidth);
  const int32_t height = truncateToInt32(requestedHeight);
  threads::MutexLock lock(state.stateMutex);
  state.renderWidth = width;
  state.renderHeight = height;
  applyRenderSizeLocked(state);
}

void setTrack(HelperState& state, const Command& command, const char* property)
    EXCLUDES(state.stateMutex) {
  std::string value = textField(command, "value", "");
  if (value == "-1") value = "no";
  setText(state, property, value);
}

void quit(HelperState& state) {
  state.running.store(false, std::memory_order_release);
  mpv_wakeup(state.mpv);
}

using CommandHandler = void (*)(HelperState&, const Command&);

const std::pair<std::string_view, CommandHandler> kCommands[] = {
    {"load", handleLoad},
    {"seek", [](HelperState& s, const Command& c) { seek(s, c, "absolute"); }},
    {"seek-by", [](HelperState& s, const Command& c) { seek(s, c, "relative+exact"); }},
    {"pause",
     [](HelperState& s, const Command& c) {
       int flag = textField(c, "value", "") == "1" ? 1 : 0;
       mpv_set_property(s.mpv, "pause", MPV_FORMAT_FLAG, &flag);
     }},
    {"aid", [](HelperState& s, const Command& c) { setTrack(s, c, "aid"); }},
    {"sid", [](HelperState& s, const Command& c) { setTrack(s, c, "sid"); }},
    {"aspect",
     [](HelperState& s, const Command& c) {
       setText(s, "video-aspect-override", textField(c, "value", "no"));
     }},
    {"sub-add",
     [](HelperState& s, const Command& c) {
       const std::string path = textField(c, "path", "");
       if (path.empty()) return;
       // A subtitle is opened at once, outside the load hook: checked here.
       if (s.urlPolicy) {
         if (const std::string refusal = engine::urlRefusal(*s.urlPolicy, path); !refusal.empty()) {
           emitLine(logLine("error", "url-policy", refusal));
           return;
         }
       }
       const char* args[] = {"sub-add", path.c_str(), "select", nullptr};
       mpv_command(s.mpv, args);
     }},
    {"sub-color",
     [](HelperState& s, const Command& c) {
       setText(s, "sub-color", textField(c, "value", "#FFFFFF"));
     }},
    {"record", handleRecordCommand},
    {"size", handleSize},
    {"quit", [](HelperState& s, const Command&) { quit(s); }},
};

}  // namespace

engine::LoadOptions loadOptionsOf(const Command& command) {
  engine::LoadOptions options;
  for (const auto& [key, value] : command.fields) {
    if (key.size() > kOptionPrefix.size() && key.starts_with(kOptionPrefix) && !value.empty()) {
      options.emplace_back(std::string_view(key).substr(kOptionPrefix.size()), value);
    }
  }
  const auto kindOptions = engine::sourceKindOptions(textField(command, "url", ""));
  for (const auto& [name, value] : kindOptions) {
    if (!command.fields.contains(std::string(kOptionPrefix) + name))
      options.emplace_back(name, value);
  }
  std::sort(options.begin(), options.end());
  return options;
}

std::string buildLoadOptions(const Command& command) {
  return engine::loadOptionsText(loadOptionsOf(command));
}

int32_t truncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  if (value <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  return static_cast<int32_t>(value);
}

void handleRecordCommand(HelperState& state, const Command& command) {
  const std::string path = textField(command, "path", "");
  engine::RecordRequest request;
  {
    threads::MutexLock lock(state.stateMutex);
    const uint64_t id = ++state.recordingRequestCount;
    request = path.empty() ? engine::recordingStopAsked(kHelperProfile.recording,
                                                        state.recordingMachine, state.recording, id)
                           : engine::recordingStartAsked(
                                 kHelperProfile.recording, state.recordingMachine, state.recording,
                                 id, path, engine::formatUtcTimestamp(std::time(nullptr)));
  }
  // The engine reports a file it cannot open only in its log, and the event
  // loop may handle that line before the result is taken below: the machine
  // keeps it for this start, whose result then settles a refused recording.
  const int result = sendRecordRequest(state, request);
  threads::MutexLock lock(state.stateMutex);
  engine::recordingReplied(kHelperProfile.recording, state.recordingMachine, state.recording,
                           request.replyId, result, result < 0 ? mpv_error_string(result) : "");
  state.snapshotDirty = true;
}

// The commands that set a number property of the same name to their "value"
// (`fallback` without one) times `scale`, within [low, high].
struct NumberCommand {
  const char* name;
  double fallback;
  double scale;
  double low;
  double high;
};

constexpr NumberCommand kNumberCommands[] = {
    {"volume", 1, 100.0, 0, 100},
    {"speed", 1, 1, 0.25, 4},
    {"sub-delay", 0, 1, -60, 60},
    {"sub-scale", 1, 1, 0.25, 4},
};

void handleCommand(HelperState& state, const Command& command) {
  for (const auto& [name, handler] : kCommands) {
    if (name == command.name) {
      handler(state, command);
      return;
    }
  }
  for (const NumberCommand& number : kNumberCommands) {
    if (command.name != number.name) continue;
    const double value = command.getDouble("value", number.fallback) * number.scale;
    setDouble(state, number.name, limit(value, number.low, number.high));
    return;
  }
}

void runStdinLoop(HelperState& state, std::FILE* input) {
  threads::RoleScope role(state.commandReader);
  std::string line;
  while (state.running.load(std::memory_order_acquire)) {
    if (!readInputLine(input, line)) break;
    if (line.empty()) continue;
    const Command command = parseCommandLine(line);
    threads::MutexLock gate(state.commandMutex);
    if (state.engineClosedToCommands) return;
    handleCommand(state, command);
  }
  threads::MutexLock gate(state.commandMutex);
  if (state.engineClosedToCommands) return;
  quit(state);
}

void clearFailedRecording(HelperState& state) {
  threads::MutexLock gate(state.commandMutex);
  if (state.engineClosedToCommands) return;
  engine::RecordRequest clear;
  {
    threads::MutexLock lock(state.stateMutex);
    clear = engine::recordingClearFailedTarget(state.recordingMachine, state.recording);
  }
  sendRecordRequest(state, clear);
}

void closeEngineToCommands(HelperState& state) {
  threads::MutexLock gate(state.commandMutex);
  state.engineClosedToCommands = true;
}

}  // namespace frame_helper
