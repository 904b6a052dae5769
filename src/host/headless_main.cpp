// The agent without the desktop layer (built with VORLINK_BUILD_DESKTOP=OFF):
// the same host, no windows, stopped by SIGTERM, SIGINT or SIGHUP.

#include <signal.h>

#include "host/agent_host.h"
#include "platform/process/executable_path.h"

namespace {

struct NoWindow : vorlink::FrameWindow {
  bool RegisterSessionNotifications() override { return true; }
  bool CreateLogDialog() override { return true; }
  bool CreateTrayIcon(const std::string&) override { return true; }
  void StartSweepTimer(int) override {}
};

}  // namespace

int main() {
  sigset_t stop;
  sigemptyset(&stop);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stop, s);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // inherited by every thread

  vorlink::AgentHostOptions options;
  options.executable = vorlink::platform::ExecutablePath();
  vorlink::AgentHost host(options);
  NoWindow window;
  if (!host.CreateWindowSequence(window)) return 0;
  int signal_number = 0;
  sigwait(&stop, &signal_number);
  return 0;  // the host's destruction runs the shutdown order
}
