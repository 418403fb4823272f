// A ring object is a plain object with its methods as own properties and its
// record wrapped in it (napi_wrap). node-addon-api wraps only through
// ObjectWrap, whose methods live on a class prototype and throw for a `this`
// that is not an instance; ours must read as a closed ring instead (a method
// taken off its object), so the wrap and unwrap are the two Node-API calls
// made directly.
#include "ring_object.h"

#include "reader_calls.h"

namespace frame_reader {

namespace {

// The native side of one ring object, owned by the object (the wrap) and
// deleted by its finalizer. While `mapping` is open, `cleanup` (a clean-up
// hook of the environment) holds `this` as well; it is removed when the
// mapping is.
struct RingObject {
  RingMapping mapping;
  Napi::Env::CleanupHook<void (*)(RingObject*), RingObject> cleanup;
};

// Marks ring objects, so that no other module's wrapped object is ever taken
// for one (a method can be called with any `this`).
constexpr napi_type_tag kRingTag = {0x6f7276616e656c00ULL, 0x72696e676f626a01ULL};

// Unmaps when the environment goes away with the object still open (worker
// exit, reload); Node erases the hook once it has run, and the record is then
// closed, so closeRing leaves the spent hook alone.
void unmapOnCleanup(RingObject* ring) { unmapRing(ring->mapping); }

// Unmaps, drops the clean-up hook and gives back the memory reported to the
// collector. Harmless when already closed; never throws.
void closeRing(Napi::Env env, RingObject& ring) {
  if (ring.mapping.base == nullptr) return;
  const auto length = static_cast<int64_t>(ring.mapping.length);
  unmapRing(ring.mapping);
  if (!ring.cleanup.IsEmpty()) ring.cleanup.Remove(env);
  Napi::MemoryManagement::AdjustExternalMemory(env, -length);
}

void finalizeRing(napi_env env, void* data, void* /*hint*/) {
  auto* ring = static_cast<RingObject*>(data);
  closeRing(Napi::Env(env), *ring);
  delete ring;
}

// The record of the call's `this`; null when `this` is no ring object (a
// method called on something else then behaves like a closed ring).
RingObject* thisRing(const Napi::CallbackInfo& info) {
  Napi::Value self = info.This();
  if (!self.IsObject() || !self.As<Napi::Object>().CheckTypeTag(&kRingTag)) return nullptr;
  void* data = nullptr;
  if (napi_unwrap(info.Env(), self, &data) != napi_ok) return nullptr;
  return static_cast<RingObject*>(data);
}

const RingMapping kClosed{};

const RingMapping& thisMapping(const Napi::CallbackInfo& info) {
  RingObject* ring = thisRing(info);
  return ring != nullptr ? ring->mapping : kClosed;
}

Napi::Value RingLatestSeq(const Napi::CallbackInfo& info) {
  return latestSeqResult(info.Env(), thisMapping(info));
}

Napi::Value RingCopyLatest(const Napi::CallbackInfo& info) {
  return copyLatestResult(info, thisMapping(info));
}

Napi::Value RingProducerAliveMs(const Napi::CallbackInfo& info) {
  return producerAliveResult(info.Env(), thisMapping(info));
}

Napi::Value RingClose(const Napi::CallbackInfo& info) {
  if (RingObject* ring = thisRing(info)) closeRing(info.Env(), *ring);
  return info.Env().Undefined();
}

// A method as the object's own property: not enumerable, not writable. The
// function itself has no name, as a method napi_define_properties makes.
template <Napi::Function::Callback method>
Napi::PropertyDescriptor methodNamed(Napi::Env env, const char* name) {
  return Napi::PropertyDescriptor::Value(name, Napi::Function::New<method>(env), napi_default);
}

}  // namespace

Napi::Value OpenRing(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  const std::string name = readRingName(info);
  RingMapping opened;
  if (const char* error = mapRing(name.c_str(), opened)) throw Napi::Error::New(env, error);

  // From here the record owns the mapping; until the wrap takes it, a failure
  // frees both.
  auto* ring = new RingObject{opened, {}};
  Napi::Object result;
  try {
    result = Napi::Object::New(env);
    defineGeometry(result, ring->mapping, napi_enumerable);
    result.DefineProperties({
        methodNamed<RingLatestSeq>(env, "latestSeq"),
        methodNamed<RingCopyLatest>(env, "copyLatest"),
        methodNamed<RingProducerAliveMs>(env, "producerAliveMs"),
        methodNamed<RingClose>(env, "close"),
    });
    NAPI_THROW_IF_FAILED_VOID(env, napi_wrap(env, result, ring, finalizeRing, nullptr, nullptr));
  } catch (...) {
    unmapRing(ring->mapping);
    delete ring;
    throw;
  }
  result.TypeTag(&kRingTag);
  ring->cleanup = env.AddCleanupHook(unmapOnCleanup, ring);
  if (ring->cleanup.IsEmpty()) throw Napi::Error::New(env);
  // The collector sees only a small object; telling it about the mapping
  // lets forgotten rings be collected before address space runs short.
  Napi::MemoryManagement::AdjustExternalMemory(env, static_cast<int64_t>(ring->mapping.length));
  return result;
}

}  // namespace frame_reader
