// disposeSession: removes the session from the registry and tears it down
// (teardown.h). JavaScript thread.
#include "call_conventions.h"
#include "exports.h"
#include "teardown.h"

namespace hosted_mpv {

Napi::Value DisposeSession(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsString()) {
    throw Napi::TypeError::New(env, "Expected session id.");
  }
  disposeSession(sessionRegistry(env), info[0].As<Napi::String>().Utf8Value());
  return env.Undefined();
}

}  // namespace hosted_mpv
