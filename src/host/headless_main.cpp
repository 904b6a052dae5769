// The agent without the desktop layer (built with VORLINK_BUILD_DESKTOP=OFF):
// the same host, no windows, stopped by SIGTERM, SIGINT or SIGHUP; and the
// doctor (--doctor).

#include <signal.h>

#include <iostream>

#include "host/agent_host.h"
#include "host/doctor/doctor.h"
#include "host/headless_window.h"
#include "platform/process/executable_path.h"
#include "platform/process/stop_watchdog.h"

int main(int argc, char** argv) {
  if (vorlink::IsDoctorCommand(argc, argv)) {
    return vorlink::RunDoctor(std::cout, vorlink::DoctorSettingsFromEnvironment(vorlink::platform::ExecutablePath()));
  }
  sigset_t stop;
  sigemptyset(&stop);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stop, s);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // inherited by every thread

  vorlink::AgentHostOptions options;
  options.files.executable = vorlink::platform::ExecutablePath();
  // The window is declared first so that it outlives the host: the host's
  // destruction runs the shutdown order, whose log lines still reach it.
  vorlink::HeadlessWindow window;
  vorlink::AgentHost host(options);
  if (!host.CreateWindowSequence(window)) return 0;
  int signal_number = 0;
  sigwait(&stop, &signal_number);
  vorlink::platform::StartStopWatchdog();
  return 0;  // the host's destruction runs the shutdown order
}
