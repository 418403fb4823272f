#include "live_source.h"

#include <cstdio>

namespace engine {

int64_t reloadDelayNs(int reloads) {
  constexpr int64_t kDelaysMs[] = {0, 250, 500, 1000};
  constexpr int kLast = int(std::size(kDelaysMs)) - 1;
  return kDelaysMs[reloads < 0 ? 0 : reloads > kLast ? kLast : reloads] * 1000000;
}

std::string outageStoppedText(double timeoutSeconds, const std::string& failure) {
  std::string reason = failure;
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ' || reason.back() == '.'))
    reason.pop_back();
  char text[96];
  std::snprintf(text, sizeof text, "Stream stopped: no data for %g s", timeoutSeconds);
  return std::string(text) + (reason.empty() ? "." : " (" + reason + ").");
}

bool outageExpired(LiveOutage& outage, bool userPaused, int64_t nowNs, int64_t timeoutNs) {
  if (outage.checkedNs != 0 && !userPaused) outage.waitedNs += nowNs - outage.checkedNs;
  outage.checkedNs = nowNs;
  return timeoutNs > 0 && outage.waitedNs >= timeoutNs;
}

int queueReload(mpv_handle* mpv, const LoadArgs& load) {
  return queueLoadfile(mpv, 0, load.url, load.options, loadfileTakesIndex());
}

}  // namespace engine
