// disposeSession: removes the session from the registry, then tears it down
// outside the registry lock. JavaScript thread.
#include "call_conventions.h"
#include "exports.h"
#include "teardown.h"

namespace hosted_mpv {

Napi::Value DisposeSession(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsString()) {
    throw Napi::TypeError::New(env, "Expected session id.");
  }
  SessionRef session = removeSession(sessionRegistry(env), info[0].As<Napi::String>().Utf8Value());
  if (session) destroySession(session);
  return env.Undefined();
}

}  // namespace hosted_mpv
