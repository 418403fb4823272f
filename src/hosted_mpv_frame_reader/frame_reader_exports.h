// The five functions the frame reader module exports to JavaScript, and the
// module's state in each Node environment that loads it.
//
// Threads: each environment (the main thread, each worker) has its own
// mapping, used only on its JavaScript thread, so it has no lock.
#pragma once

#include <napi.h>

namespace frame_reader {

// Gives `env` its own mapping (instance data) and a clean-up hook that unmaps
// it when the environment goes away. Throws like any Node-API failure.
void setUpReaderState(Napi::Env env);

Napi::Value Open(const Napi::CallbackInfo& info);
Napi::Value LatestSeq(const Napi::CallbackInfo& info);
Napi::Value CopyLatest(const Napi::CallbackInfo& info);
Napi::Value ProducerAliveMs(const Napi::CallbackInfo& info);
Napi::Value Close(const Napi::CallbackInfo& info);

}  // namespace frame_reader
