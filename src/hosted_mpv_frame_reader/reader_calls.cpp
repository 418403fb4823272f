#include "reader_calls.h"

namespace frame_reader {

namespace {

// The longest name open(name) reads, in bytes; shm names are far shorter.
constexpr size_t kMaxRingNameBytes = 255;

}  // namespace

const char* pixelLayoutName(frame_ring::PixelLayout layout) {
  return layout == frame_ring::PixelLayout::rgbaTopDown ? "rgba-top-down" : "bgra-bottom-up";
}

void defineGeometry(Napi::Object target, const RingMapping& mapping,
                    napi_property_attributes attributes) {
  Napi::Env env = target.Env();
  const auto number = [&](const char* name, double value) {
    return Napi::PropertyDescriptor::Value(name, Napi::Number::New(env, value), attributes);
  };
  target.DefineProperties({
      number("width", mapping.width),
      number("height", mapping.height),
      number("stride", mapping.stride),
      number("frameBytes", static_cast<double>(mapping.frameBytes)),
      number("generation", mapping.generation),
      Napi::PropertyDescriptor::Value(
          "layout", Napi::String::New(env, pixelLayoutName(mapping.layout)), attributes),
  });
}

Napi::Value firstArgument(const Napi::CallbackInfo& info, const char* missingError) {
  if (info.Length() < 1) throw Napi::Error::New(info.Env(), missingError);
  return info[0];
}

std::string readRingName(const Napi::CallbackInfo& info) {
  Napi::Value argument = firstArgument(info, "open(name) requires the shm name");
  if (!argument.IsString()) throw Napi::Error::New(info.Env(), "shm name must be a string");
  std::string name = argument.As<Napi::String>().Utf8Value();
  if (name.size() > kMaxRingNameBytes) {
    // Cut before a character that would not fit whole, as Node-API's copy
    // into a fixed buffer cuts.
    size_t end = kMaxRingNameBytes;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xc0) == 0x80) --end;
    name.resize(end);
  }
  return name;
}

Napi::Value latestSeqResult(Napi::Env env, const RingMapping& mapping) {
  return Napi::Number::New(env, static_cast<double>(ringLatestSeq(mapping)));
}

Napi::Value copyLatestResult(const Napi::CallbackInfo& info, const RingMapping& mapping) {
  Napi::Env env = info.Env();
  if (mapping.base == nullptr) throw Napi::Error::New(env, "call open() first");
  Napi::Value argument = firstArgument(info, "copyLatest(buffer) needs a buffer");
  if (!argument.IsArrayBuffer()) throw Napi::Error::New(env, "argument must be an ArrayBuffer");
  auto buffer = argument.As<Napi::ArrayBuffer>();
  if (buffer.ByteLength() < mapping.frameBytes) {
    throw Napi::Error::New(env, "buffer smaller than one frame");
  }

  // Straight into the caller's memory: no buffer of ours, no second copy.
  FrameCopy copy;
  if (!copyLatestFrame(mapping, static_cast<uint8_t*>(buffer.Data()), copy)) return env.Null();
  Napi::Object result = Napi::Object::New(env);
  result.Set("seq", Napi::Number::New(env, static_cast<double>(copy.seq)));
  result.Set("ageMs", Napi::Number::New(env, copy.ageMs));
  result.Set("torn", Napi::Boolean::New(env, copy.torn));
  return result;
}

Napi::Value producerAliveResult(Napi::Env env, const RingMapping& mapping) {
  return Napi::Number::New(env, ringProducerAliveMs(mapping));
}

}  // namespace frame_reader
