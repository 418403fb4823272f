// createSession: reads the caller's arguments and opens a session in the
// environment's registry (openSession, creation.h).
// JavaScript thread.
#include <cmath>
#include <stdexcept>

#include "call_conventions.h"
#include "creation.h"
#include "exports.h"
#include "extra_options.h"

namespace hosted_mpv {
namespace {

double initialVolume(const Napi::CallbackInfo& info) {
  if (info.Length() <= 3 || !info[3].IsNumber()) return 100;
  double volume = info[3].As<Napi::Number>().DoubleValue();
  // NaN is no volume at all: full volume, as for a missing one.
  if (std::isnan(volume)) return 100;
  if (volume < 0) return 0;
  if (volume > 1) return 100;
  return volume * 100;
}

}  // namespace

Napi::Value CreateSession(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsBuffer() || !info[1].IsObject()) {
    throw Napi::TypeError::New(env, "Expected window handle buffer and bounds object.");
  }
  auto buffer = info[0].As<Napi::Buffer<uint8_t>>();
  SessionSettings settings;
  switch (readNativeWindowHandle(buffer.Data(), buffer.Length(), settings.windowHandle)) {
    case NativeHandleStatus::tooSmall:
      throw Napi::Error::New(env, "Native window handle buffer is too small.");
    case NativeHandleStatus::null:
      throw Napi::Error::New(env, "Unable to resolve Electron native window handle.");
    case NativeHandleStatus::ok:
      break;
  }

  SessionRegistry& registry = sessionRegistry(env);  // before anything needs undoing
  settings.volume = initialVolume(info);
  settings.extraOptions = orvanel::readHostedMpvExtraOptions(info, 4);
  settings.bounds = readBounds(info[1].As<Napi::Object>());
  SessionRef session;
  try {
    session = openSession(registry, settings);
  } catch (const std::runtime_error& error) {
    throw Napi::Error::New(env, error.what());
  }
  return Napi::String::New(env, session->id);
}

}  // namespace hosted_mpv
