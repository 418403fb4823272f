#include "player_setup.h"

#include <algorithm>
#include <utility>

#include "buffering.h"
#include "deinterlacing.h"
#include "helper_properties.h"
#include "json_writer.h"
#include "output_lines.h"
#include "player_options.h"
#include "url_guard.h"
#include "volume.h"

namespace frame_helper {

namespace {

constexpr const char* kPreambleName = "mpv-options";

void setFixedOptions(mpv_handle* mpv, const HelperArgs& args) {
  engine::setEmbeddedPlayerOptions(mpv);
  mpv_set_option_string(mpv, "hwdec", args.hwdec.c_str());
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

// The stall bound is the helper's own and never reaches the engine; a value
// it cannot read is rejected as the engine rejects one.
void applySessionOptions(HelperState& state, const Command& preamble,
                         std::set<std::string>& appliedSessionOptions) {
  mpv_handle* mpv = state.mpv;
  for (const SessionOption& option : sessionOptionsFromPreamble(preamble)) {
    if (option.name == engine::kStallTimeoutOption) {
      std::string problem;
      if (!engine::parseStallTimeout(option.value, state.stallTimeoutSeconds, problem)) {
        emitLine(rejectedSessionOptionLine(option.name, problem));
      }
      continue;
    }
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
    if (auto option = engine::splitOptionText(text)) {
      options.push_back({std::move(option->first), std::move(option->second)});
    }
  }
  return options;
}

bool setupPlayer(HelperState& state, const HelperArgs& args, std::FILE* input,
                 std::set<std::string>& appliedSessionOptions, std::string& error) {
  if (args.allowedSchemes) {
    engine::UrlPolicy policy;
    if (!engine::parseUrlPolicy(*args.allowedSchemes, policy, error)) {
      error = "--allowed-schemes: " + error;
      return false;
    }
    state.urlPolicy = std::move(policy);
  }
  state.mpv = mpv_create();
  if (state.mpv == nullptr) {
    error = "mpv_create failed";
    return false;
  }
  setFixedOptions(state.mpv, args);
  if (args.mpvOptionsStdin) {
    Command preamble;
    if (!readPreamble(input, preamble, error)) return abandonEngine(state);
    applySessionOptions(state, preamble, appliedSessionOptions);
  }
  state.deinterlacing.callerDecides =
      std::any_of(appliedSessionOptions.begin(), appliedSessionOptions.end(),
                  [](const std::string& name) { return engine::decidesDeinterlacing(name); });
  if (mpv_initialize(state.mpv) < 0) {
    error = "mpv_initialize failed";
    return abandonEngine(state);
  }
  mpv_request_log_messages(state.mpv, "warn");
  // After the preamble: the application's options cannot widen the policy.
  if (state.urlPolicy) {
    if (const int result = engine::startUrlGuard(state.mpv, *state.urlPolicy); result < 0) {
      error = std::string("URL policy: ") + mpv_error_string(result);
      return abandonEngine(state);
    }
  }
  double volume = engine::engineVolume(args.volume);
  mpv_set_property(state.mpv, "volume", MPV_FORMAT_DOUBLE, &volume);
  engine::observeProperties<HelperState>(state.mpv, kHelperProperties);
  return true;
}

}  // namespace frame_helper
