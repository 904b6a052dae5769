#include "support/child_processes.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace vorlink::test {

namespace {

// Calls `each(pid, state)` for every child of this process.
template <typename Each>
void ForEachChild(Each each) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long ppid = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 && ppid == ::getpid()) {
      each(static_cast<pid_t>(std::atol(line.c_str())), state);
    }
  }
}

}  // namespace

int ZombieChildren() {
  int zombies = 0;
  ForEachChild([&](pid_t, char state) { zombies += state == 'Z'; });
  return zombies;
}

std::vector<pid_t> LiveChildren() {
  std::vector<pid_t> live;
  ForEachChild([&](pid_t pid, char state) {
    if (state != 'Z') live.push_back(pid);
  });
  return live;
}

bool ProcessExists(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

}  // namespace vorlink::test
