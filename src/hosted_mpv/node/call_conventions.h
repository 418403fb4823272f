// What every exported function shares: session lookup and the readers of
// optional values. JavaScript thread.
#pragma once

#include <napi.h>

#include <string>

#include "module_state.h"
#include "session.h"
#include "views.h"

namespace hosted_mpv {

// The session registered under `id` in `env`'s registry; throws "Hosted MPV
// session not found." when there is none. The reference keeps the session alive for the call.
SessionRef getSessionOrThrow(Napi::Env env, const std::string& id);

// The property's value when it is a number (NaN included), else `fallback`;
// never coerces.
double readOptionalNumber(const Napi::Object& object, const char* key, double fallback);

// The "x", "y", "width" and "height" numbers of a bounds object, each 0 when
// it is not a number.
ViewBounds readBounds(const Napi::Object& bounds);

// Empty when the property is absent, undefined or null, else its value as
// JavaScript's ToString makes it.
std::string readOptionalString(const Napi::Object& object, const char* key);

// Throws Napi::Error with `prefix` followed by the engine's text for `status`.
[[noreturn]] void throwEngineError(Napi::Env env, const char* prefix, int status);

// undefined for a request the engine took (`status` 0 or more); else throws
// as throwEngineError.
Napi::Value engineRequestResult(Napi::Env env, const char* failurePrefix, int status);

}  // namespace hosted_mpv
