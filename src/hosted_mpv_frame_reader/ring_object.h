// openRing(name): a ring object of its own per call, so one environment can
// follow any number of helpers. Each object owns its mapping, which close(),
// the object's collection and the environment's clean-up each release.
//
// Threads: the environment's JavaScript thread, which also runs its clean-up
// hooks and finalizers; a mapping has no lock.
#pragma once

#include <napi.h>

namespace frame_reader {

// openRing(name) -> { width, height, stride, frameBytes, generation,
// latestSeq(), copyLatest(buffer), producerAliveMs(), close() }
Napi::Value OpenRing(const Napi::CallbackInfo& info);

}  // namespace frame_reader
