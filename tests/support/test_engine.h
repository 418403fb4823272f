// A real engine for the unit tests that meet libmpv itself: created with the
// options a test names (by default one that plays nothing and outputs
// nothing, and waits idle), initialised, and destroyed with the test.
#pragma once

#include <mpv/client.h>

#include <initializer_list>
#include <string>
#include <utility>

struct TestEngine {
  mpv_handle* mpv = nullptr;

  explicit TestEngine(std::initializer_list<std::pair<const char*, const char*>> options = {
                          {"vo", "null"}, {"ao", "null"}, {"idle", "yes"}})
      : mpv(mpv_create()) {
    for (const auto& [name, value] : options) mpv_set_option_string(mpv, name, value);
    mpv_initialize(mpv);
  }
  ~TestEngine() { mpv_terminate_destroy(mpv); }
  TestEngine(const TestEngine&) = delete;
  TestEngine& operator=(const TestEngine&) = delete;

  // -12345 when the engine has no such number.
  double getDouble(const char* name) const {
    double value = -12345;
    mpv_get_property(mpv, name, MPV_FORMAT_DOUBLE, &value);
    return value;
  }
  // "<none>" when the engine has no such property: never a value a test expects.
  std::string getString(const char* name) const {
    char* text = mpv_get_property_string(mpv, name);
    std::string out = text ? text : "<none>";
    mpv_free(text);
    return out;
  }
};
