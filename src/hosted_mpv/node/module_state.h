// The module's state in each Node environment that loads it (the main
// thread, each worker, each renderer reload): its session registry, set as
// the environment's instance data, and the clean-up hook that tears down
// whatever sessions the environment still holds when it goes away.
//
// What stays process-wide, because there is one of it per process: the UI
// thread with its X connection (platform/linux/ui_thread.cpp), EGL's
// connection and display (platform/linux/opengl_view.cpp), the session number
// and reply id counters (session.h).
#pragma once

#include <napi.h>

#include "session.h"

namespace hosted_mpv {

// Gives `env` its own registry and the clean-up hook. Called once, when the
// module is registered in `env`; throws like any Node-API failure.
void setUpModuleState(Napi::Env env);

// The registry of the environment `env`. JavaScript thread of `env`.
SessionRegistry& sessionRegistry(Napi::Env env);

}  // namespace hosted_mpv
