// Per-environment module state.
// Threads: the environment's JavaScript thread, which also runs its clean-up
// hook and the instance data's finalizer (worker exit, reload, process end).
#include "module_state.h"

#include "teardown.h"

namespace hosted_mpv {
namespace {

struct ModuleState {
  SessionRegistry registry;

  ModuleState() = default;
  ModuleState(const ModuleState&) = delete;
  ModuleState& operator=(const ModuleState&) = delete;
  ~ModuleState();
};

// Every session still registered is torn down in full, one after the other:
// its threads stopped and joined, the engine destroyed, its view taken out of
// the window. Nothing here calls into JavaScript, which can no longer run.
void closeAllSessions(ModuleState* state) { disposeAllSessions(state->registry); }

// Node runs clean-up hooks newest first, so this runs before the
// environment's Node-API state (and with it the instance data) goes; the
// destructor only catches what a different order would leave.
ModuleState::~ModuleState() { closeAllSessions(this); }

}  // namespace

void setUpModuleState(Napi::Env env) {
  auto* state = new ModuleState;
  env.SetInstanceData<ModuleState>(state);  // deleted by the default finalizer
  env.AddCleanupHook(closeAllSessions, state);
}

SessionRegistry& sessionRegistry(Napi::Env env) {
  auto* state = env.GetInstanceData<ModuleState>();
  if (!state) throw Napi::Error::New(env, "Hosted MPV module is not set up in this environment.");
  return state->registry;
}

}  // namespace hosted_mpv
