// memcpy_baseline: a bench-only Node-API module, the baseline of the frame
// copy benchmark. It maps a frame ring read-only, as the reader module does,
// and copies the newest slot into an ArrayBuffer with a plain memcpy: no
// sequence checks, no clock, no result object.
//
//   open(name) -> frameBytes      copy(arrayBuffer) -> undefined
//   loop(arrayBuffer, count) -> nanoseconds for `count` copies, timed in C
//   close()
//
// Threads: one JavaScript thread; gMapping has no lock.
#include <fcntl.h>
#include <node_api.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "frame_ring_layout.h"

namespace {

using namespace frame_ring;

struct Mapping {
  const uint8_t* base = nullptr;
  size_t length = 0;
  uint64_t frameBytes = 0;
  uint64_t dataOffset = 0;
};
Mapping gMapping;

napi_value fail(napi_env env, const char* message) {
  napi_throw_error(env, nullptr, message);
  return nullptr;
}

void unmap() {
  if (gMapping.base) munmap(const_cast<uint8_t*>(gMapping.base), gMapping.length);
  gMapping = Mapping{};
}

const uint8_t* newestSlot() {
  const uint64_t seq =
      __atomic_load_n(ringWord(gMapping.base, kRingLatestSeqOffset), __ATOMIC_ACQUIRE);
  return gMapping.base + gMapping.dataOffset + ringSlotForSeq(seq) * gMapping.frameBytes;
}

// The ArrayBuffer argument at `index`, at least one frame long.
uint8_t* frameBuffer(napi_env env, napi_callback_info info, size_t count, napi_value* argv) {
  size_t argc = count;
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  bool isArrayBuffer = false;
  if (argc < 1 || napi_is_arraybuffer(env, argv[0], &isArrayBuffer) != napi_ok || !isArrayBuffer) {
    return nullptr;
  }
  void* data = nullptr;
  size_t length = 0;
  napi_get_arraybuffer_info(env, argv[0], &data, &length);
  if (!gMapping.base || length < gMapping.frameBytes) return nullptr;
  return static_cast<uint8_t*>(data);
}

napi_value Open(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value argv[1];
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  char name[256] = {};
  size_t nameLength = 0;
  if (argc < 1 ||
      napi_get_value_string_utf8(env, argv[0], name, sizeof name, &nameLength) != napi_ok) {
    return fail(env, "open(name) needs a name");
  }
  unmap();
  const int fd = shm_open(name, O_RDONLY, 0);
  if (fd < 0) return fail(env, "shm_open failed");
  struct stat st {};
  fstat(fd, &st);
  void* mapped = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (mapped == MAP_FAILED || static_cast<size_t>(st.st_size) < sizeof(RingHeader)) {
    return fail(env, "mmap failed");
  }
  const auto* header = static_cast<const RingHeader*>(mapped);
  gMapping = {static_cast<const uint8_t*>(mapped), static_cast<size_t>(st.st_size),
              header->frameBytes, header->dataOffset};
  if (gMapping.dataOffset + 3 * gMapping.frameBytes > gMapping.length) {
    unmap();
    return fail(env, "ring smaller than its frames");
  }
  napi_value result;
  napi_create_double(env, static_cast<double>(gMapping.frameBytes), &result);
  return result;
}

napi_value Copy(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  uint8_t* dst = frameBuffer(env, info, 1, argv);
  if (!dst) return fail(env, "copy(arrayBuffer) needs an open ring and a frame-sized ArrayBuffer");
  std::memcpy(dst, newestSlot(), gMapping.frameBytes);
  return nullptr;
}

napi_value Loop(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  uint8_t* dst = frameBuffer(env, info, 2, argv);
  if (!dst)
    return fail(env, "loop(arrayBuffer, count) needs an open ring and a frame-sized ArrayBuffer");
  int64_t count = 0;
  napi_get_value_int64(env, argv[1], &count);
  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (int64_t i = 0; i < count; ++i) {
    std::memcpy(dst, newestSlot(), gMapping.frameBytes);
    // Keeps the compiler from merging the copies.
    asm volatile("" : : "r"(dst) : "memory");
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  napi_value result;
  napi_create_double(env,
                     static_cast<double>(end.tv_sec - start.tv_sec) * 1e9 +
                         static_cast<double>(end.tv_nsec - start.tv_nsec),
                     &result);
  return result;
}

napi_value Close(napi_env, napi_callback_info) {
  unmap();
  return nullptr;
}

}  // namespace

NAPI_MODULE_INIT() {
  const napi_property_descriptor properties[] = {
      {"open", nullptr, Open, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"copy", nullptr, Copy, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"loop", nullptr, Loop, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"close", nullptr, Close, nullptr, nullptr, nullptr, napi_default, nullptr},
  };
  napi_define_properties(env, exports, sizeof properties / sizeof properties[0], properties);
  return exports;
}
