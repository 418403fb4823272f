#include "call_conventions.h"

#include "engine_text.h"
#include "exports.h"

namespace hosted_mpv {

SessionRef getSessionOrThrow(Napi::Env env, const std::string& id) {
  SessionRef session = findSession(sessionRegistry(env), id);
  if (!session) throw Napi::Error::New(env, "Hosted MPV session not found.");
  return session;
}

double readOptionalNumber(const Napi::Object& object, const char* key, double fallback) {
  if (!object.Has(key)) return fallback;
  Napi::Value value = object.Get(key);
  return value.IsNumber() ? value.As<Napi::Number>().DoubleValue() : fallback;
}

ViewBounds readBounds(const Napi::Object& bounds) {
  return {readOptionalNumber(bounds, "x", 0), readOptionalNumber(bounds, "y", 0),
          readOptionalNumber(bounds, "width", 0), readOptionalNumber(bounds, "height", 0)};
}

std::string readOptionalString(const Napi::Object& object, const char* key) {
  if (!object.Has(key)) return {};
  Napi::Value value = object.Get(key);
  if (value.IsUndefined() || value.IsNull()) return {};
  return value.ToString().Utf8Value();
}

void throwEngineError(Napi::Env env, const char* prefix, int status) {
  throw Napi::Error::New(env, std::string(prefix) + engineText(status));
}

Napi::Value engineRequestResult(Napi::Env env, const char* failurePrefix, int status) {
  if (status < 0) throwEngineError(env, failurePrefix, status);
  return env.Undefined();
}

Napi::Value IsSupported(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), true);
}

}  // namespace hosted_mpv
