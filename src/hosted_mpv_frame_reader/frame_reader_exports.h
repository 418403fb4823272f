// The five functions the frame reader module exports to JavaScript, and the
// module's state in each Node environment that loads it.
//
// Threads: each environment (the main thread, each worker) has its own
// mapping, used only on its JavaScript thread, so it has no lock.
#pragma once

#include <node_api.h>

namespace frame_reader {

// Gives `env` its own mapping (instance data) and a clean-up hook that unmaps
// it when the environment goes away. Returns the status of the first
// Node-API call that fails.
napi_status setUpReaderState(napi_env env);

napi_value Open(napi_env env, napi_callback_info info);
napi_value LatestSeq(napi_env env, napi_callback_info info);
napi_value CopyLatest(napi_env env, napi_callback_info info);
napi_value ProducerAliveMs(napi_env env, napi_callback_info info);
napi_value Close(napi_env env, napi_callback_info info);

}  // namespace frame_reader
