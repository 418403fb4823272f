// Extra engine options given by the application as "key=value" strings.
#pragma once

#include <napi.h>

#include <string>
#include <utility>
#include <vector>

namespace orvanel {

// The (key, value) pairs of the array argument at `index`, in array order:
// strings only, split at the first '=', skipping those without '=', with an
// empty key or an empty value. Empty when the argument is missing or not an
// array. JavaScript thread.
std::vector<std::pair<std::string, std::string>> readHostedMpvExtraOptions(
    const Napi::CallbackInfo& info, size_t index);

}  // namespace orvanel
