// The agent's host on one port, windowless, logging to a folder of the
// caller's choosing; prints READY and serves until killed.
//   bench_agent_server PORT LOG_DIR [AGENT_FOLDER]
// AGENT_FOLDER stands in for the agent's own folder: the manifest
// (Vorlink.ini) is read there and component registrations only from its
// components/ subfolder. Without it the program's folder is used, with the
// usual registration folders. The identity is the user's
// (${XDG_DATA_HOME:-~/.local/share}/vorlink/identity), made when missing,
// as the agent makes it, and shared with bench_reference_server.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "host/agent_host.h"
#include "host/headless_window.h"
#include "platform/process/executable_path.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s PORT LOG_DIR [AGENT_FOLDER]\n", argv[0]);
    return 2;
  }
  vorlink::AgentHostOptions options;
  options.files.executable = vorlink::platform::ExecutablePath();
  if (argc == 4) {
    const std::filesystem::path folder = std::filesystem::absolute(argv[3]);
    options.files.executable = folder / options.files.executable.filename();
    options.files.component_folders = {folder / "components"};
  }
  options.ports = {std::atoi(argv[1])};
  options.files.log_directory = argv[2];
  options.install_browser_trust = false;
  vorlink::HeadlessWindow window;  // outlives the host, which calls it until shut down
  vorlink::AgentHost host(options);
  if (!host.CreateWindowSequence(window)) return 1;
  std::printf("READY\n");
  std::fflush(stdout);
  ::pause();
}
