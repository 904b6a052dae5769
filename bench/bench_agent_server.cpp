// The agent's host on one port, windowless, logging to a folder of the
// caller's choosing; prints READY and serves until killed.
//   bench_agent_server PORT LOG_DIR

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "host/agent_host.h"
#include "host/headless_window.h"
#include "platform/process/executable_path.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PORT LOG_DIR\n", argv[0]);
    return 2;
  }
  vorlink::AgentHostOptions options;
  options.executable = vorlink::platform::ExecutablePath();
  options.ports = {std::atoi(argv[1])};
  options.log_directory = argv[2];
  options.install_browser_trust = false;
  vorlink::HeadlessWindow window;  // outlives the host, which calls it until shut down
  vorlink::AgentHost host(options);
  if (!host.CreateWindowSequence(window)) return 1;
  std::printf("READY\n");
  std::fflush(stdout);
  ::pause();
}
