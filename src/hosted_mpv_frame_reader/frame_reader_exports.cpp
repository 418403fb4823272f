// The frame reader's exported functions around the mapping of the calling
// environment.
//
// Threads: the environment's JavaScript thread, which also runs its clean-up
// hook and finalizer; the mapping has no lock.
#include "frame_reader_exports.h"

#include "napi_call.h"
#include "reader_calls.h"
#include "ring_reader.h"

namespace frame_reader {

namespace {

// The state of one environment: the ring currently open, empty when closed.
struct ReaderState {
  RingMapping mapping;
};

// The calling environment's state; null only if registration did not set it.
ReaderState* readerState(napi_env env) {
  void* data = nullptr;
  if (napi_get_instance_data(env, &data) != napi_ok) return nullptr;
  return static_cast<ReaderState*>(data);
}

// A closed mapping for environments without state: reads as "nothing open".
const RingMapping kClosed{};

const RingMapping& currentMapping(napi_env env) {
  ReaderState* state = readerState(env);
  return state ? state->mapping : kClosed;
}

// Unmaps when the environment goes away (worker exit, reload, process end).
// Node runs clean-up hooks newest first, so this runs before the instance
// data's finalizer, which frees the state.
void unmapOnCleanup(void* arg) { unmapRing(static_cast<ReaderState*>(arg)->mapping); }

void finalizeState(napi_env /*env*/, void* data, void* /*hint*/) {
  auto* state = static_cast<ReaderState*>(data);
  unmapRing(state->mapping);
  delete state;
}

}  // namespace

napi_status setUpReaderState(napi_env env) {
  auto* state = new ReaderState;
  napi_status status = napi_set_instance_data(env, state, finalizeState, nullptr);
  if (status != napi_ok) {
    delete state;
    return status;
  }
  return napi_add_env_cleanup_hook(env, unmapOnCleanup, state);
}

napi_value Open(napi_env env, napi_callback_info info) {
  RingName name;
  if (!readRingName(env, info, name)) return nullptr;

  ReaderState* state = readerState(env);
  if (state == nullptr) return throwError(env, "frame reader is not set up in this environment");
  RingMapping opened;
  if (const char* error = mapRing(name.text, opened)) return throwError(env, error);
  // Only a ring that opened replaces the current one.
  unmapRing(state->mapping);
  state->mapping = opened;

  napi_value result = nullptr;
  NAPI_CALL(env, napi_create_object(env, &result));
  const auto plain =
      static_cast<napi_property_attributes>(napi_writable | napi_enumerable | napi_configurable);
  NAPI_CALL(env, defineGeometry(env, result, state->mapping, plain));
  return result;
}

napi_value LatestSeq(napi_env env, napi_callback_info /*info*/) {
  return latestSeqResult(env, currentMapping(env));
}

napi_value CopyLatest(napi_env env, napi_callback_info info) {
  return copyLatestResult(env, info, currentMapping(env));
}

napi_value ProducerAliveMs(napi_env env, napi_callback_info /*info*/) {
  return producerAliveResult(env, currentMapping(env));
}

napi_value Close(napi_env env, napi_callback_info /*info*/) {
  if (ReaderState* state = readerState(env)) unmapRing(state->mapping);
  return nullptr;  // undefined
}

}  // namespace frame_reader
