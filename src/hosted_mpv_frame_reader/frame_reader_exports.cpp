// The frame reader's exported functions around the mapping of the calling
// environment.
//
// Threads: the environment's JavaScript thread, which also runs its clean-up
// hook and finalizer; the mapping has no lock.
#include "frame_reader_exports.h"

#include "napi_call.h"
#include "ring_reader.h"

namespace orvanel {

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

// Throws an Error with no code; the caller then returns nothing.
napi_value throwError(napi_env env, const char* message) {
  NAPI_CALL(env, napi_throw_error(env, nullptr, message));
  return nullptr;
}

// Sets obj[name] = value; the status of the first call that fails.
napi_status setNumber(napi_env env, napi_value obj, const char* name, double value) {
  napi_value number = nullptr;
  napi_status status = napi_create_double(env, value, &number);
  if (status != napi_ok) return status;
  return napi_set_named_property(env, obj, name, number);
}

napi_status setBoolean(napi_env env, napi_value obj, const char* name, bool value) {
  napi_value boolean = nullptr;
  napi_status status = napi_get_boolean(env, value, &boolean);
  if (status != napi_ok) return status;
  return napi_set_named_property(env, obj, name, boolean);
}

// The call's first argument; null, with `missingError` thrown, when it has none.
napi_value firstArgument(napi_env env, napi_callback_info info, const char* missingError) {
  size_t argc = 1;
  napi_value argv[1] = {nullptr};
  NAPI_CALL(env, napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr));
  if (argc < 1) return throwError(env, missingError);
  return argv[0];
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
  napi_value argument = firstArgument(env, info, "open(name) requires the shm name");
  if (argument == nullptr) return nullptr;
  napi_valuetype type = napi_undefined;
  NAPI_CALL(env, napi_typeof(env, argument, &type));
  if (type != napi_string) return throwError(env, "shm name must be a string");
  char name[256];  // a longer name is cut to 255 bytes
  size_t nameLength = 0;
  NAPI_CALL(env, napi_get_value_string_utf8(env, argument, name, sizeof name, &nameLength));

  ReaderState* state = readerState(env);
  if (state == nullptr) return throwError(env, "frame reader is not set up in this environment");
  RingMapping opened;
  if (const char* error = mapRing(name, opened)) return throwError(env, error);
  // Only a ring that opened replaces the current one.
  unmapRing(state->mapping);
  state->mapping = opened;
  const RingMapping& mapping = state->mapping;

  napi_value result = nullptr;
  NAPI_CALL(env, napi_create_object(env, &result));
  NAPI_CALL(env, setNumber(env, result, "width", mapping.width));
  NAPI_CALL(env, setNumber(env, result, "height", mapping.height));
  NAPI_CALL(env, setNumber(env, result, "stride", mapping.stride));
  NAPI_CALL(env, setNumber(env, result, "frameBytes", static_cast<double>(mapping.frameBytes)));
  NAPI_CALL(env, setNumber(env, result, "generation", mapping.generation));
  return result;
}

napi_value LatestSeq(napi_env env, napi_callback_info /*info*/) {
  napi_value result = nullptr;
  NAPI_CALL(env, napi_create_double(env, static_cast<double>(ringLatestSeq(currentMapping(env))),
                                    &result));
  return result;
}

napi_value CopyLatest(napi_env env, napi_callback_info info) {
  const RingMapping& mapping = currentMapping(env);
  if (mapping.base == nullptr) return throwError(env, "call open() first");
  napi_value argument = firstArgument(env, info, "copyLatest(buffer) needs a buffer");
  if (argument == nullptr) return nullptr;
  bool isArrayBuffer = false;
  NAPI_CALL(env, napi_is_arraybuffer(env, argument, &isArrayBuffer));
  if (!isArrayBuffer) return throwError(env, "argument must be an ArrayBuffer");
  void* data = nullptr;
  size_t byteLength = 0;
  NAPI_CALL(env, napi_get_arraybuffer_info(env, argument, &data, &byteLength));
  if (byteLength < mapping.frameBytes) return throwError(env, "buffer smaller than one frame");

  FrameCopy copy;
  napi_value result = nullptr;
  if (!copyLatestFrame(mapping, static_cast<uint8_t*>(data), copy)) {
    NAPI_CALL(env, napi_get_null(env, &result));
    return result;
  }
  NAPI_CALL(env, napi_create_object(env, &result));
  NAPI_CALL(env, setNumber(env, result, "seq", static_cast<double>(copy.seq)));
  NAPI_CALL(env, setNumber(env, result, "ageMs", copy.ageMs));
  NAPI_CALL(env, setBoolean(env, result, "torn", copy.torn));
  return result;
}

napi_value ProducerAliveMs(napi_env env, napi_callback_info /*info*/) {
  napi_value result = nullptr;
  NAPI_CALL(env, napi_create_double(env, ringProducerAliveMs(currentMapping(env)), &result));
  return result;
}

napi_value Close(napi_env env, napi_callback_info /*info*/) {
  if (ReaderState* state = readerState(env)) unmapRing(state->mapping);
  return nullptr;  // undefined
}

}  // namespace orvanel
