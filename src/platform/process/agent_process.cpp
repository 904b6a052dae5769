#include "platform/process/agent_process.h"

#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>

extern char** environ;

namespace vorlink::platform {

bool ShowTrayFromArguments(const std::vector<std::string>& arguments) {
  std::string line;
  for (const auto& argument : arguments) {
    if (!line.empty()) line += ' ';
    line += argument;
  }
  std::transform(line.begin(), line.end(), line.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return line.find("NOTRAY") == std::string::npos;
}

int IsProcessElevated() { return ::geteuid() == 0 ? 1 : 0; }

void StartSuccessor(const std::filesystem::path& executable) {
  // Reaping is left to init: the successor outlives this process.
  const std::string path = executable.string();
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  pid_t pid = 0;
  posix_spawn(&pid, path.c_str(), nullptr, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
}

}  // namespace vorlink::platform
