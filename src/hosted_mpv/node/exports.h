// The native side of the module's sixteen exported functions.
// JavaScript thread.
#pragma once

#include <napi.h>

namespace hosted_mpv {

Napi::Value IsSupported(const Napi::CallbackInfo& info);
Napi::Value CreateSession(const Napi::CallbackInfo& info);
Napi::Value LoadPlayback(const Napi::CallbackInfo& info);
Napi::Value SetBounds(const Napi::CallbackInfo& info);
Napi::Value SetPaused(const Napi::CallbackInfo& info);
Napi::Value Seek(const Napi::CallbackInfo& info);
Napi::Value SeekBy(const Napi::CallbackInfo& info);
Napi::Value SetVolume(const Napi::CallbackInfo& info);
Napi::Value SetAudioTrack(const Napi::CallbackInfo& info);
Napi::Value SetSubtitleTrack(const Napi::CallbackInfo& info);
Napi::Value SetSpeed(const Napi::CallbackInfo& info);
Napi::Value SetAspect(const Napi::CallbackInfo& info);
Napi::Value StartRecording(const Napi::CallbackInfo& info);
Napi::Value StopRecording(const Napi::CallbackInfo& info);
Napi::Value GetSessionSnapshot(const Napi::CallbackInfo& info);
Napi::Value DisposeSession(const Napi::CallbackInfo& info);

}  // namespace hosted_mpv
