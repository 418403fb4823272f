// getSessionSnapshot: one copy of the session's snapshot (copySnapshot),
// turned into a plain JavaScript object outside every lock. Which keys it has
// is the shared writer's (snapshot_writer.h); here values only become
// JavaScript values. JavaScript thread.
#include "call_conventions.h"
#include "exports.h"
#include "session.h"

namespace hosted_mpv {
namespace {

// Sets what the snapshot visitor gives on one JavaScript object.
struct ObjectSink {
  Napi::Env env;
  Napi::Object target;

  void number(const char* key, double value) { target.Set(key, Napi::Number::New(env, value)); }
  void text(const char* key, std::string_view value) {
    target.Set(key, Napi::String::New(env, value.data(), value.size()));
  }
  void boolean(const char* key, bool value) { target.Set(key, Napi::Boolean::New(env, value)); }
  void null(const char* key) { target.Set(key, env.Null()); }

  template <typename Fill>
  void object(const char* key, Fill fill) {
    ObjectSink inner{env, Napi::Object::New(env)};
    fill(inner);
    target.Set(key, inner.target);
  }

  template <typename Fill>
  void list(const char* key, size_t count, Fill fill) {
    Napi::Array array = Napi::Array::New(env, count);
    for (size_t i = 0; i < count; ++i) {
      ObjectSink item{env, Napi::Object::New(env)};
      fill(i, item);
      array.Set(uint32_t(i), item.target);
    }
    target.Set(key, array);
  }

  void texts(const char* key, const std::vector<std::string>& values) {
    Napi::Array array = Napi::Array::New(env, values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      array.Set(uint32_t(i), Napi::String::New(env, values[i]));
    }
    target.Set(key, array);
  }
};

}  // namespace

Napi::Value GetSessionSnapshot(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsString()) {
    throw Napi::TypeError::New(env, "Expected session id.");
  }
  SessionRef session = findSession(sessionRegistry(env), info[0].As<Napi::String>().Utf8Value());
  if (!session) return env.Null();
  const SessionSnapshot snapshot = copySnapshot(*session);
  ObjectSink sink{env, Napi::Object::New(env)};
  writeSessionSnapshot(snapshot, sink);
  return sink.target;
}

}  // namespace hosted_mpv
