// The one check of every napi_* status in this module.
#pragma once

#include <node_api.h>

namespace frame_reader {

// Throws the failed call's own error text as a JavaScript Error, unless an
// exception is already pending. Call it right after the failing call.
inline void throwNapiFailure(napi_env env) {
  const napi_extended_error_info* info = nullptr;
  const char* message = "Node-API call failed";
  if (napi_get_last_error_info(env, &info) == napi_ok && info != nullptr &&
      info->error_message != nullptr) {
    message = info->error_message;
  }
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && !pending) {
    napi_throw_error(env, nullptr, message);
  }
}

}  // namespace frame_reader

// Runs a napi_* call; on failure throws and returns nothing from the caller.
#define NAPI_CALL(env, call)            \
  do {                                  \
    if ((call) != napi_ok) {            \
      ::frame_reader::throwNapiFailure(env); \
      return nullptr;                   \
    }                                   \
  } while (0)
