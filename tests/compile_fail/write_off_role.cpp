// Must not compile under the thread-safety analysis: a field GUARDED_BY a
// thread role, written by code that does not hold the role. guarded_read.cpp
// writes it as the role's thread does, with the same command, and must
// compile.
#include "thread_check.h"

struct Player {
  threads::ThreadRole eventThread;
  int turnDegrees GUARDED_BY(eventThread) = 0;
};

void turnElsewhere(Player& player) { player.turnDegrees = 90; }
