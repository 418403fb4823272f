// Shared-memory objects as another process sees them, for the ring tests: a
// read-only mapping by name, whether a name exists, and names of their own.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

// "/ompv-test-<pid>-<what>-<n>": unique within the test process.
inline std::string uniqueShmName(const char* what) {
  static int counter = 0;
  return "/ompv-test-" + std::to_string(getpid()) + "-" + what + "-" + std::to_string(++counter);
}

inline bool shmNameExists(const std::string& name) {
  int fd = shm_open(name.c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// A read-only mapping of the whole object; `bytes` null when it is missing or empty.
struct ShmView {
  const uint8_t* bytes = nullptr;
  size_t size = 0;

  explicit ShmView(const std::string& name) {
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_size > 0) {
      void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
      if (p != MAP_FAILED) {
        bytes = static_cast<const uint8_t*>(p);
        size = static_cast<size_t>(st.st_size);
      }
    }
    ::close(fd);
  }
  ~ShmView() {
    if (bytes != nullptr) munmap(const_cast<uint8_t*>(bytes), size);
  }
  ShmView(const ShmView&) = delete;
  ShmView& operator=(const ShmView&) = delete;
};
