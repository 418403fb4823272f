// orvanel_mpv_helper: plays one stream off-screen and publishes its frames in
// a shared-memory frame ring; commands on stdin, JSON lines on stdout.
#include <clocale>
#include <csignal>

#include "helper_args.h"
#include "runtime_probe.h"

using namespace frame_helper;

int main(int argc, char** argv) {
  // Numbers are written and read with a decimal point whatever the locale.
  std::setlocale(LC_NUMERIC, "C");
  // A closed stdout makes writes fail quietly instead of ending the process.
  std::signal(SIGPIPE, SIG_IGN);
  const HelperArgs args = parseHelperArgs(argc, argv);
  if (args.runtimeProbe) return runRuntimeProbe();
  return 0;
}
