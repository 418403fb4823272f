// Registration of the frame reader module: Node-API version 8, the state of
// the loading environment, the five functions around its one current ring and
// openRing for rings of their own.
#include <node_api.h>

#include "frame_reader_exports.h"
#include "napi_call.h"
#include "ring_object.h"

namespace {

struct ExportEntry {
  const char* name;
  napi_callback function;
};

constexpr ExportEntry kExports[] = {
    {"open", frame_reader::Open},
    {"latestSeq", frame_reader::LatestSeq},
    {"copyLatest", frame_reader::CopyLatest},
    {"producerAliveMs", frame_reader::ProducerAliveMs},
    {"close", frame_reader::Close},
    {"openRing", frame_reader::OpenRing},
};

}  // namespace

extern "C" {

NAPI_MODULE_EXPORT int32_t node_api_module_get_api_version_v1(void) { return 8; }

NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
  NAPI_CALL(env, frame_reader::setUpReaderState(env));
  for (const ExportEntry& entry : kExports) {
    napi_value function = nullptr;
    NAPI_CALL(env, napi_create_function(env, entry.name, NAPI_AUTO_LENGTH, entry.function, nullptr,
                                        &function));
    NAPI_CALL(env, napi_set_named_property(env, exports, entry.name, function));
  }
  return exports;
}

}  // extern "C"
