#include "reader_calls.h"

#include <iterator>

#include "napi_call.h"

namespace frame_reader {

namespace {

napi_status setNumber(napi_env env, napi_value obj, const char* name, double value) {
  napi_value number = nullptr;
  napi_status status = napi_create_double(env, value, &number);
  if (status != napi_ok) return status;
  return napi_set_named_property(env, obj, name, number);
}

napi_status setBoolean(napi_env env, napi_value obj, const char* name, bool value) {
  napi_value boolean = nullptr;
  napi_status status = napi_get_boolean(env, value, &boolean);
  if (status != napi_ok) return status;
  return napi_set_named_property(env, obj, name, boolean);
}

}  // namespace

const char* pixelLayoutName(frame_ring::PixelLayout layout) {
  return layout == frame_ring::PixelLayout::rgbaTopDown ? "rgba-top-down" : "bgra-bottom-up";
}

napi_value throwError(napi_env env, const char* message) {
  NAPI_CALL(env, napi_throw_error(env, nullptr, message));
  return nullptr;
}

napi_status defineGeometry(napi_env env, napi_value target, const RingMapping& mapping,
                           napi_property_attributes attributes) {
  const struct {
    const char* name;
    double value;
  } fields[] = {
      {"width", static_cast<double>(mapping.width)},
      {"height", static_cast<double>(mapping.height)},
      {"stride", static_cast<double>(mapping.stride)},
      {"frameBytes", static_cast<double>(mapping.frameBytes)},
      {"generation", static_cast<double>(mapping.generation)},
  };
  napi_property_descriptor descriptors[std::size(fields) + 1] = {};
  for (size_t i = 0; i < std::size(fields); ++i) {
    napi_status status = napi_create_double(env, fields[i].value, &descriptors[i].value);
    if (status != napi_ok) return status;
    descriptors[i].utf8name = fields[i].name;
    descriptors[i].attributes = attributes;
  }
  napi_property_descriptor& layout = descriptors[std::size(fields)];
  const char* layoutName = pixelLayoutName(mapping.layout);
  napi_status status = napi_create_string_utf8(env, layoutName, NAPI_AUTO_LENGTH, &layout.value);
  if (status != napi_ok) return status;
  layout.utf8name = "layout";
  layout.attributes = attributes;
  return napi_define_properties(env, target, std::size(descriptors), descriptors);
}

napi_value firstArgument(napi_env env, napi_callback_info info, const char* missingError,
                         napi_value* self) {
  size_t argc = 1;
  napi_value argv[1] = {nullptr};
  NAPI_CALL(env, napi_get_cb_info(env, info, &argc, argv, self, nullptr));
  if (argc < 1) return throwError(env, missingError);
  return argv[0];
}

bool readRingName(napi_env env, napi_callback_info info, RingName& out) {
  napi_value argument = firstArgument(env, info, "open(name) requires the shm name");
  if (argument == nullptr) return false;
  napi_valuetype type = napi_undefined;
  size_t length = 0;
  if (napi_typeof(env, argument, &type) != napi_ok) {
    throwNapiFailure(env);
    return false;
  }
  if (type != napi_string) {
    throwError(env, "shm name must be a string");
    return false;
  }
  if (napi_get_value_string_utf8(env, argument, out.text, sizeof out.text, &length) != napi_ok) {
    throwNapiFailure(env);
    return false;
  }
  return true;
}

napi_value latestSeqResult(napi_env env, const RingMapping& mapping) {
  napi_value result = nullptr;
  NAPI_CALL(env, napi_create_double(env, static_cast<double>(ringLatestSeq(mapping)), &result));
  return result;
}

napi_value copyLatestResult(napi_env env, napi_callback_info info, const RingMapping& mapping) {
  if (mapping.base == nullptr) return throwError(env, "call open() first");
  napi_value argument = firstArgument(env, info, "copyLatest(buffer) needs a buffer");
  if (argument == nullptr) return nullptr;
  bool isArrayBuffer = false;
  NAPI_CALL(env, napi_is_arraybuffer(env, argument, &isArrayBuffer));
  if (!isArrayBuffer) return throwError(env, "argument must be an ArrayBuffer");
  void* data = nullptr;
  size_t byteLength = 0;
  NAPI_CALL(env, napi_get_arraybuffer_info(env, argument, &data, &byteLength));
  if (byteLength < mapping.frameBytes) return throwError(env, "buffer smaller than one frame");

  FrameCopy copy;
  napi_value result = nullptr;
  if (!copyLatestFrame(mapping, static_cast<uint8_t*>(data), copy)) {
    NAPI_CALL(env, napi_get_null(env, &result));
    return result;
  }
  NAPI_CALL(env, napi_create_object(env, &result));
  NAPI_CALL(env, setNumber(env, result, "seq", static_cast<double>(copy.seq)));
  NAPI_CALL(env, setNumber(env, result, "ageMs", copy.ageMs));
  NAPI_CALL(env, setBoolean(env, result, "torn", copy.torn));
  return result;
}

napi_value producerAliveResult(napi_env env, const RingMapping& mapping) {
  napi_value result = nullptr;
  NAPI_CALL(env, napi_create_double(env, ringProducerAliveMs(mapping), &result));
  return result;
}

}  // namespace frame_reader
