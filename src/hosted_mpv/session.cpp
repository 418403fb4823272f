#include "session.h"

namespace hosted_mpv {

std::atomic<uint64_t> gNextSessionNumber{1};
std::atomic<uint64_t> gNextAsyncRequestId{1};

std::string takeSessionId() {
  return "hosted-mpv-" + std::to_string(gNextSessionNumber.fetch_add(1));
}

uint64_t takeAsyncRequestId() { return gNextAsyncRequestId.fetch_add(1); }

SessionRef findSession(SessionRegistry& registry, const std::string& id) {
  threads::MutexLock lock(registry.mutex);
  auto found = registry.sessions.find(id);
  return found == registry.sessions.end() ? nullptr : found->second;
}

void registerSession(SessionRegistry& registry, const SessionRef& session) {
  threads::MutexLock lock(registry.mutex);
  registry.sessions.emplace(session->id, session);
}

SessionRef removeSession(SessionRegistry& registry, const std::string& id) {
  threads::MutexLock lock(registry.mutex);
  auto found = registry.sessions.find(id);
  if (found == registry.sessions.end()) return nullptr;
  SessionRef session = found->second;
  registry.sessions.erase(found);
  return session;
}

std::vector<SessionRef> removeAllSessions(SessionRegistry& registry) {
  std::vector<SessionRef> removed;
  threads::MutexLock lock(registry.mutex);
  for (auto& [id, session] : registry.sessions) removed.push_back(std::move(session));
  registry.sessions.clear();
  return removed;
}

void updateSessionError(Session& session, const std::string& message, bool fromEngine) {
  threads::MutexLock lock(session.stateMutex);
  session.snapshot.status = engine::PlaybackStatus::error;
  session.snapshot.error = message;
  session.snapshot.errorFromEngine = fromEngine;
}

SessionSnapshot copySnapshot(Session& session) {
  threads::MutexLock lock(session.stateMutex);
  return session.snapshot;
}

}  // namespace hosted_mpv
