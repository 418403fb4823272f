// The five functions the frame reader module exports to JavaScript.
//
// Threads: the JavaScript thread that loaded the module; the process-wide
// mapping they share has no lock.
#pragma once

#include <node_api.h>

namespace orvanel {

napi_value Open(napi_env env, napi_callback_info info);
napi_value LatestSeq(napi_env env, napi_callback_info info);
napi_value CopyLatest(napi_env env, napi_callback_info info);
napi_value ProducerAliveMs(napi_env env, napi_callback_info info);
napi_value Close(napi_env env, napi_callback_info info);

}  // namespace orvanel
