#include "session.h"

namespace hosted_mpv {

std::unordered_map<std::string, SessionRef> gSessions;
std::mutex gSessionsMutex;
std::atomic<uint64_t> gNextSessionNumber{1};
std::atomic<uint64_t> gNextAsyncRequestId{1};

std::string takeSessionId() {
  return "hosted-mpv-" + std::to_string(gNextSessionNumber.fetch_add(1));
}

uint64_t takeAsyncRequestId() { return gNextAsyncRequestId.fetch_add(1); }

SessionRef findSession(const std::string& id) {
  std::lock_guard lock(gSessionsMutex);
  auto found = gSessions.find(id);
  return found == gSessions.end() ? nullptr : found->second;
}

void registerSession(const SessionRef& session) {
  std::lock_guard lock(gSessionsMutex);
  gSessions.emplace(session->id, session);
}

SessionRef removeSession(const std::string& id) {
  std::lock_guard lock(gSessionsMutex);
  auto found = gSessions.find(id);
  if (found == gSessions.end()) return nullptr;
  SessionRef session = found->second;
  gSessions.erase(found);
  return session;
}

void updateSessionError(Session& session, const std::string& message, bool fromEngine) {
  std::lock_guard lock(session.stateMutex);
  session.snapshot.status = SessionStatus::error;
  session.snapshot.error = message;
  session.snapshot.errorFromEngine = fromEngine;
}

}  // namespace hosted_mpv
