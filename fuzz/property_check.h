// How every fuzz target fails: a property that does not hold ends the run at
// once, naming the property (libFuzzer then keeps the input that broke it).
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzz_check {

inline void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

}  // namespace fuzz_check
