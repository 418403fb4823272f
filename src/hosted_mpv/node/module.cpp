// Sets up the module's state in the loading environment, then registers the
// sixteen functions, in this order. Each is made without a name and without
// callback data.
#include <napi.h>

#include "exports.h"
#include "module_state.h"

NAPI_MODULE_INIT() {
  using namespace hosted_mpv;
  using Napi::Function;
  Napi::Object target(env, exports);
  try {
    setUpModuleState(env);
    target.Set("isSupported", Function::New<IsSupported>(env));
    target.Set("createSession", Function::New<CreateSession>(env));
    target.Set("loadPlayback", Function::New<LoadPlayback>(env));
    target.Set("setBounds", Function::New<SetBounds>(env));
    target.Set("setPaused", Function::New<SetPaused>(env));
    target.Set("seek", Function::New<Seek>(env));
    target.Set("seekBy", Function::New<SeekBy>(env));
    target.Set("setVolume", Function::New<SetVolume>(env));
    target.Set("setAudioTrack", Function::New<SetAudioTrack>(env));
    target.Set("setSubtitleTrack", Function::New<SetSubtitleTrack>(env));
    target.Set("setSpeed", Function::New<SetSpeed>(env));
    target.Set("setAspect", Function::New<SetAspect>(env));
    target.Set("startRecording", Function::New<StartRecording>(env));
    target.Set("stopRecording", Function::New<StopRecording>(env));
    target.Set("getSessionSnapshot", Function::New<GetSessionSnapshot>(env));
    target.Set("disposeSession", Function::New<DisposeSession>(env));
  } catch (const Napi::Error& error) {
    // Registration stops at the first failure and loading the module fails.
    error.ThrowAsJavaScriptException();
    return nullptr;
  }
  return exports;
}
