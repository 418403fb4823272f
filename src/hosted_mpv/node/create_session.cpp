// createSession: reads the caller's arguments and opens a session in the
// environment's registry (openSession, creation.h).
// JavaScript thread.
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "call_conventions.h"
#include "creation.h"
#include "exports.h"
#include "url_policy.h"

namespace hosted_mpv {
namespace {

// The fourth argument when it is a number, else not-a-number (none given).
double readVolume(const Napi::CallbackInfo& info) {
  if (info.Length() <= 3 || !info[3].IsNumber()) return std::numeric_limits<double>::quiet_NaN();
  return info[3].As<Napi::Number>().DoubleValue();
}

// The texts of the array argument at `index`, in array order, skipping
// elements that are not strings; empty when it is missing or not an array.
std::vector<std::string> readTexts(const Napi::CallbackInfo& info, size_t index) {
  std::vector<std::string> texts;
  if (index >= info.Length() || !info[index].IsArray()) return texts;
  auto array = info[index].As<Napi::Array>();
  for (uint32_t i = 0, count = array.Length(); i < count; ++i) {
    Napi::Value element = array.Get(i);
    if (element.IsString()) texts.push_back(element.As<Napi::String>().Utf8Value());
  }
  return texts;
}

// The sixth argument's allowedSchemes: absent (no policy) unless the argument
// is an object with that property; then an array of scheme strings.
std::optional<engine::UrlPolicy> readUrlPolicy(const Napi::CallbackInfo& info) {
  constexpr size_t kOptionsIndex = 5;
  if (info.Length() <= kOptionsIndex || !info[kOptionsIndex].IsObject()) return std::nullopt;
  Napi::Value schemes = info[kOptionsIndex].As<Napi::Object>().Get("allowedSchemes");
  if (schemes.IsUndefined()) return std::nullopt;
  const char* kMessage = "allowedSchemes must be an array of URL schemes such as \"https\".";
  if (!schemes.IsArray()) throw Napi::TypeError::New(info.Env(), kMessage);
  auto array = schemes.As<Napi::Array>();
  std::vector<std::string> texts;
  for (uint32_t i = 0, count = array.Length(); i < count; ++i) {
    Napi::Value element = array.Get(i);
    if (!element.IsString()) throw Napi::TypeError::New(info.Env(), kMessage);
    texts.push_back(element.As<Napi::String>().Utf8Value());
  }
  engine::UrlPolicy policy;
  if (!engine::urlPolicyFromSchemes(texts, policy))
    throw Napi::TypeError::New(info.Env(), kMessage);
  return policy;
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
  settings.volume = readVolume(info);
  settings.extraOptions = readTexts(info, 4);
  settings.bounds = readBounds(info[1].As<Napi::Object>());
  settings.urlPolicy = readUrlPolicy(info);
  SessionRef session;
  try {
    session = openSession(registry, settings);
  } catch (const std::runtime_error& error) {
    throw Napi::Error::New(env, error.what());
  }
  return Napi::String::New(env, session->id);
}

}  // namespace hosted_mpv
