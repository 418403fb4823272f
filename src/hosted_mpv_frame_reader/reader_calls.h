// What the module-level functions and the ring objects share: the shapes of
// their results and the checks and messages of their arguments, around one
// RingMapping.
//
// Threads: the calling environment's JavaScript thread.
#pragma once

#include <node_api.h>

#include "ring_reader.h"

namespace frame_reader {

using frame_ring::copyLatestFrame;
using frame_ring::FrameCopy;
using frame_ring::mapRing;
using frame_ring::ringLatestSeq;
using frame_ring::RingMapping;
using frame_ring::ringProducerAliveMs;
using frame_ring::unmapRing;

// Throws an Error with no code; returns null, which the caller returns.
napi_value throwError(napi_env env, const char* message);

// The names JavaScript sees for a ring's pixel layout, as the helper's
// --pixel-layout option spells them.
const char* pixelLayoutName(frame_ring::PixelLayout layout);

// Sets width, height, stride, frameBytes, generation and layout on `target`,
// in that order, with the given attributes.
napi_status defineGeometry(napi_env env, napi_value target, const RingMapping& mapping,
                           napi_property_attributes attributes);

// The call's first argument; null, with `missingError` thrown, when it has none.
// `self` receives the call's `this` when not null.
napi_value firstArgument(napi_env env, napi_callback_info info, const char* missingError,
                         napi_value* self = nullptr);

// A ring name as open(name) reads it: a longer name is cut to 255 bytes.
struct RingName {
  char text[256] = {};
};

// Reads the call's first argument as a ring name; false, with the error of
// open(name) thrown, when it is missing or not a string.
bool readRingName(napi_env env, napi_callback_info info, RingName& out);

// The results of latestSeq(), copyLatest(buffer) and producerAliveMs() on
// `mapping`, with every check and message of the module-level functions.
napi_value latestSeqResult(napi_env env, const RingMapping& mapping);
napi_value copyLatestResult(napi_env env, napi_callback_info info, const RingMapping& mapping);
napi_value producerAliveResult(napi_env env, const RingMapping& mapping);

}  // namespace frame_reader
