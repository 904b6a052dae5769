#include "platform/process/run_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern char** environ;

namespace vorlink::platform {
namespace {

std::vector<char*> Argv(const Command& command) {
  std::vector<char*> argv;
  for (const auto& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Starts `command` with stdin from /dev/null, stdout to `out_fd` (or
// /dev/null when -1) and stderr to /dev/null; 0 when it could not start.
pid_t Spawn(const Command& command, int out_fd) {
  if (command.empty()) return 0;
  auto argv = Argv(command);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : 0;
}

int Reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int RunAndWait(const Command& command) {
  const pid_t pid = Spawn(command, -1);
  return pid > 0 ? Reap(pid) : -1;
}

CommandOutput RunAndCapture(const Command& command, std::chrono::milliseconds timeout, int stop_fd,
                            std::size_t max_bytes) {
  CommandOutput result;
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return result;
  const pid_t pid = Spawn(command, pipe_fds[1]);
  ::close(pipe_fds[1]);
  if (pid <= 0) {
    ::close(pipe_fds[0]);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool killed = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fds[2] = {{pipe_fds[0], POLLIN, 0}, {stop_fd, POLLIN, 0}};
    const int ready = left.count() > 0 ? ::poll(fds, stop_fd >= 0 ? 2 : 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (stop_fd >= 0 && (fds[1].revents & POLLIN))) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    char buffer[4096];
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (result.out.size() < max_bytes) {
      result.out.append(buffer, std::min(static_cast<std::size_t>(n), max_bytes - result.out.size()));
    }
  }
  ::close(pipe_fds[0]);
  const int status = Reap(pid);
  result.status = killed ? -1 : status;
  return result;
}

}  // namespace vorlink::platform
