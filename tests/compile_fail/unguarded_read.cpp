// Must not compile under the thread-safety analysis: a field GUARDED_BY a
// mutex, read without it. guarded_read.cpp reads it under its lock with the
// same command and must compile.
#include "mutex.h"

struct Counter {
  threads::Mutex mutex;
  int count GUARDED_BY(mutex) = 0;
};

int readCount(Counter& counter) { return counter.count; }
