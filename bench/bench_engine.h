// The engine the C++ benchmarks drive: created with the options each names,
// in order, and initialised.
#pragma once

#include <mpv/client.h>

#include <cstdio>
#include <initializer_list>
#include <utility>

// Null, after a line on standard error, when the engine does not initialise.
inline mpv_handle* createBenchEngine(
    std::initializer_list<std::pair<const char*, const char*>> options) {
  mpv_handle* mpv = mpv_create();
  if (!mpv) {
    std::fprintf(stderr, "mpv_create failed\n");
    return nullptr;
  }
  for (const auto& [name, value] : options) mpv_set_option_string(mpv, name, value);
  if (mpv_initialize(mpv) < 0) {
    std::fprintf(stderr, "mpv_initialize failed\n");
    mpv_terminate_destroy(mpv);
    return nullptr;
  }
  return mpv;
}
