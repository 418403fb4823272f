// What the module-level functions and the ring objects share: the shapes of
// their results and the checks and messages of their arguments, around one
// RingMapping. Every failure throws a Napi::Error without a code.
//
// Threads: the calling environment's JavaScript thread.
#pragma once

#include <napi.h>

#include <string>

#include "ring_reader.h"

namespace frame_reader {

using frame_ring::copyLatestFrame;
using frame_ring::FrameCopy;
using frame_ring::mapRing;
using frame_ring::ringLatestSeq;
using frame_ring::RingMapping;
using frame_ring::ringProducerAliveMs;
using frame_ring::unmapRing;

// The names JavaScript sees for a ring's pixel layout, as the helper's
// --pixel-layout option spells them.
const char* pixelLayoutName(frame_ring::PixelLayout layout);

// Defines width, height, stride, frameBytes, generation and layout on
// `target`, in that order, with the given attributes.
void defineGeometry(Napi::Object target, const RingMapping& mapping,
                    napi_property_attributes attributes);

// The call's first argument; throws `missingError` when it has none.
Napi::Value firstArgument(const Napi::CallbackInfo& info, const char* missingError);

// The call's first argument as a ring name, as open(name) reads it: a longer
// name is cut to 255 bytes, at a character's start. Throws the errors of
// open(name) when it is missing or not a string.
std::string readRingName(const Napi::CallbackInfo& info);

// The results of latestSeq(), copyLatest(buffer) and producerAliveMs() on
// `mapping`, with every check and message of the module-level functions.
Napi::Value latestSeqResult(Napi::Env env, const RingMapping& mapping);
Napi::Value copyLatestResult(const Napi::CallbackInfo& info, const RingMapping& mapping);
Napi::Value producerAliveResult(Napi::Env env, const RingMapping& mapping);

}  // namespace frame_reader
