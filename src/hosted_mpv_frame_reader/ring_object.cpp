#include "ring_object.h"

#include <iterator>

#include "napi_call.h"
#include "reader_calls.h"
#include "ring_reader.h"

namespace frame_reader {

namespace {

// The native side of one ring object, owned by the object (napi_wrap) and
// deleted by its finalizer. While `mapping` is open, a clean-up hook of the
// environment holds `this` as well; it is removed when the mapping is.
struct RingObject {
  napi_env env = nullptr;
  RingMapping mapping;
};

// Marks ring objects, so that no other module's wrapped object is ever taken
// for one (a method can be called with any `this`).
constexpr napi_type_tag kRingTag = {0x6f7276616e656c00ULL, 0x72696e676f626a01ULL};

// Unmaps when the environment goes away with the object still open (worker
// exit, reload); Node erases the hook once it has run.
void unmapOnCleanup(void* arg) { unmapRing(static_cast<RingObject*>(arg)->mapping); }

// Unmaps, drops the clean-up hook and gives back the memory reported to the
// collector. Harmless when already closed.
void closeRing(RingObject& ring) {
  if (ring.mapping.base == nullptr) return;
  const auto length = static_cast<int64_t>(ring.mapping.length);
  unmapRing(ring.mapping);
  napi_remove_env_cleanup_hook(ring.env, unmapOnCleanup, &ring);
  int64_t ignored = 0;
  napi_adjust_external_memory(ring.env, -length, &ignored);
}

void finalizeRing(napi_env /*env*/, void* data, void* /*hint*/) {
  auto* ring = static_cast<RingObject*>(data);
  closeRing(*ring);
  delete ring;
}

// The record of the call's `this`; null when `this` is no ring object (a
// method called on something else then behaves like a closed ring).
RingObject* thisRing(napi_env env, napi_callback_info info) {
  napi_value self = nullptr;
  size_t argc = 0;
  bool isRing = false;
  void* data = nullptr;
  if (napi_get_cb_info(env, info, &argc, nullptr, &self, nullptr) != napi_ok || self == nullptr ||
      napi_check_object_type_tag(env, self, &kRingTag, &isRing) != napi_ok || !isRing ||
      napi_unwrap(env, self, &data) != napi_ok) {
    return nullptr;
  }
  return static_cast<RingObject*>(data);
}

const RingMapping kClosed{};

const RingMapping& thisMapping(napi_env env, napi_callback_info info) {
  RingObject* ring = thisRing(env, info);
  return ring != nullptr ? ring->mapping : kClosed;
}

napi_value RingLatestSeq(napi_env env, napi_callback_info info) {
  return latestSeqResult(env, thisMapping(env, info));
}

napi_value RingCopyLatest(napi_env env, napi_callback_info info) {
  return copyLatestResult(env, info, thisMapping(env, info));
}

napi_value RingProducerAliveMs(napi_env env, napi_callback_info info) {
  return producerAliveResult(env, thisMapping(env, info));
}

napi_value RingClose(napi_env env, napi_callback_info info) {
  if (RingObject* ring = thisRing(env, info)) closeRing(*ring);
  return nullptr;  // undefined
}

}  // namespace

napi_value OpenRing(napi_env env, napi_callback_info info) {
  RingName name;
  if (!readRingName(env, info, name)) return nullptr;
  RingMapping opened;
  if (const char* error = mapRing(name.text, opened)) return throwError(env, error);

  // From here the record owns the mapping; until the wrap takes it, a failure
  // frees both.
  auto* ring = new RingObject{env, opened};
  napi_value result = nullptr;
  const auto readOnly = static_cast<napi_property_attributes>(napi_enumerable);
  const napi_property_descriptor methods[] = {
      {"latestSeq", nullptr, RingLatestSeq, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"copyLatest", nullptr, RingCopyLatest, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"producerAliveMs", nullptr, RingProducerAliveMs, nullptr, nullptr, nullptr, napi_default,
       nullptr},
      {"close", nullptr, RingClose, nullptr, nullptr, nullptr, napi_default, nullptr},
  };
  if (napi_create_object(env, &result) != napi_ok ||
      defineGeometry(env, result, ring->mapping, readOnly) != napi_ok ||
      napi_define_properties(env, result, std::size(methods), methods) != napi_ok ||
      napi_wrap(env, result, ring, finalizeRing, nullptr, nullptr) != napi_ok) {
    unmapRing(ring->mapping);
    delete ring;
    throwNapiFailure(env);
    return nullptr;
  }
  NAPI_CALL(env, napi_type_tag_object(env, result, &kRingTag));
  NAPI_CALL(env, napi_add_env_cleanup_hook(env, unmapOnCleanup, ring));
  // The collector sees only a small object; telling it about the mapping
  // lets forgotten rings be collected before address space runs short.
  int64_t ignored = 0;
  NAPI_CALL(env,
            napi_adjust_external_memory(env, static_cast<int64_t>(ring->mapping.length), &ignored));
  return result;
}

}  // namespace frame_reader
