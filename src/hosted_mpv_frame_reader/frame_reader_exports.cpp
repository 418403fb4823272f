// The frame reader's exported functions around the mapping of the calling
// environment.
//
// Threads: the environment's JavaScript thread, which also runs its clean-up
// hook and the instance data's finalizer; the mapping has no lock.
#include "frame_reader_exports.h"

#include "reader_calls.h"

namespace frame_reader {

namespace {

// The state of one environment: the ring currently open, empty when closed.
// Deleted by the instance data's default finalizer.
struct ReaderState {
  RingMapping mapping;

  ReaderState() = default;
  ReaderState(const ReaderState&) = delete;
  ReaderState& operator=(const ReaderState&) = delete;
  ~ReaderState() { unmapRing(mapping); }
};

// Unmaps when the environment goes away (worker exit, reload, process end).
// Node runs clean-up hooks newest first, so this runs before the instance
// data's finalizer; the destructor only catches what a different order would
// leave.
void unmapOnCleanup(ReaderState* state) { unmapRing(state->mapping); }

// A closed mapping for environments without state: reads as "nothing open".
const RingMapping kClosed{};

const RingMapping& currentMapping(Napi::Env env) {
  ReaderState* state = env.GetInstanceData<ReaderState>();
  return state ? state->mapping : kClosed;
}

}  // namespace

void setUpReaderState(Napi::Env env) {
  auto* state = new ReaderState;
  env.SetInstanceData<ReaderState>(state);
  if (env.AddCleanupHook(unmapOnCleanup, state).IsEmpty()) throw Napi::Error::New(env);
}

Napi::Value Open(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  const std::string name = readRingName(info);

  ReaderState* state = env.GetInstanceData<ReaderState>();
  if (state == nullptr)
    throw Napi::Error::New(env, "frame reader is not set up in this environment");
  RingMapping opened;
  if (const char* error = mapRing(name.c_str(), opened)) throw Napi::Error::New(env, error);
  // Only a ring that opened replaces the current one.
  unmapRing(state->mapping);
  state->mapping = opened;

  Napi::Object result = Napi::Object::New(env);
  defineGeometry(
      result, state->mapping,
      static_cast<napi_property_attributes>(napi_writable | napi_enumerable | napi_configurable));
  return result;
}

Napi::Value LatestSeq(const Napi::CallbackInfo& info) {
  return latestSeqResult(info.Env(), currentMapping(info.Env()));
}

Napi::Value CopyLatest(const Napi::CallbackInfo& info) {
  return copyLatestResult(info, currentMapping(info.Env()));
}

Napi::Value ProducerAliveMs(const Napi::CallbackInfo& info) {
  return producerAliveResult(info.Env(), currentMapping(info.Env()));
}

Napi::Value Close(const Napi::CallbackInfo& info) {
  if (auto* state = info.Env().GetInstanceData<ReaderState>()) unmapRing(state->mapping);
  return info.Env().Undefined();
}

}  // namespace frame_reader
