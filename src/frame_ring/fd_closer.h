// Closes a descriptor on every path out of the function that opened it.
#pragma once

#include <unistd.h>

namespace frame_ring {

struct FdCloser {
  int fd = -1;
  FdCloser() = default;
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace frame_ring
