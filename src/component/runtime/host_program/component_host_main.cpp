// vorlink-component-host: runs one crypto component out of the agent's
// process. The agent starts it with a connected socket as descriptor 3
// (the one argument) and talks to it in host-protocol frames.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>

#include <cstdlib>
#include <string>

#include "component/runtime/host_program/component_host_server.h"

int main(int argc, char** argv) {
  // The host ends with the agent, whatever it is doing then. Should the
  // agent have died before this line, its socket end is already closed
  // and the first receive ends the host.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (argc != 2) return 2;
  char* end = nullptr;
  const long fd = std::strtol(argv[1], &end, 10);
  if (*end != '\0' || fd < 0 || fd > 1024 || ::fcntl(static_cast<int>(fd), F_GETFD) < 0) return 2;
  // Programs the component starts must not hold the socket: the agent
  // sees this process end when the socket closes.
  ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  // A vanished agent shows as a failed send, not as a signal.
  ::signal(SIGPIPE, SIG_IGN);
  return vorlink::ServeComponent(static_cast<int>(fd));
}
