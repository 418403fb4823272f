// The control of the compile-fail sources: the same fields reached as their
// contracts say (under the lock; on the role's thread, taken at its entry or
// asserted) compile with the same command, so a command that fails for any
// other reason cannot pass for them.
#include "mutex.h"
#include "thread_check.h"

struct Counter {
  threads::Mutex mutex;
  int count GUARDED_BY(mutex) = 0;
};

int readCount(Counter& counter) {
  threads::MutexLock lock(counter.mutex);
  return counter.count;
}

struct Player {
  threads::ThreadRole eventThread;
  int turnDegrees GUARDED_BY(eventThread) = 0;
};

void turn(Player& player) REQUIRES(player.eventThread) { player.turnDegrees = 90; }

void runEventThread(Player& player) {
  threads::RoleScope role(player.eventThread);
  turn(player);
}

void onEventThread(Player& player) {
  threads::assertRole(player.eventThread);
  player.turnDegrees = 180;
}
