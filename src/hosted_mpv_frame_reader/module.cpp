// Registration of the frame reader module: the state of the loading
// environment, the five functions around its one current ring and openRing
// for rings of their own. Each function carries its export's name.
#include <napi.h>

#include "frame_reader_exports.h"
#include "ring_object.h"

NAPI_MODULE_INIT() {
  using namespace frame_reader;
  using Napi::Function;
  Napi::Object target(env, exports);
  try {
    setUpReaderState(env);
    target.Set("open", Function::New<Open>(env, "open"));
    target.Set("latestSeq", Function::New<LatestSeq>(env, "latestSeq"));
    target.Set("copyLatest", Function::New<CopyLatest>(env, "copyLatest"));
    target.Set("producerAliveMs", Function::New<ProducerAliveMs>(env, "producerAliveMs"));
    target.Set("close", Function::New<Close>(env, "close"));
    target.Set("openRing", Function::New<OpenRing>(env, "openRing"));
  } catch (const Napi::Error& error) {
    // Registration stops at the first failure and loading the module fails.
    error.ThrowAsJavaScriptException();
    return nullptr;
  }
  return exports;
}
