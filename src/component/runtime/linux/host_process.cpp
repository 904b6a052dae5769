#include "component/runtime/linux/host_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace vorlink {
namespace {

constexpr int kChildSocketFd = 3;

// The environment as the thread asking for a host sees it, copied there:
// the spawning thread then reads only the copy, handed over under its
// queue's lock.
std::vector<std::string> EnvironmentCopy() {
  std::vector<std::string> copy;
  for (char** entry = environ; entry && *entry; ++entry) copy.emplace_back(*entry);
  return copy;
}

// The child starts with no blocked signals and default dispositions, and
// with no descriptor of ours beyond its socket.
pid_t SpawnWithSocket(const std::filesystem::path& program, int child_end, std::vector<std::string>& environment) {
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, child_end, kChildSocketFd);
  posix_spawn_file_actions_addclosefrom_np(&actions, kChildSocketFd + 1);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string fd_text = std::to_string(kChildSocketFd);
  char* argv[] = {const_cast<char*>(program.c_str()), fd_text.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv, envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// The one thread that starts host processes. It is never stopped: it
// ends with the process, and the hosts' parent-death signal with it.
class SpawningThread {
 public:
  static SpawningThread& Get() {
    static auto* spawner = new SpawningThread;  // never destroyed, see above
    return *spawner;
  }

  pid_t Spawn(const std::filesystem::path& program, int child_end) {
    std::packaged_task<pid_t()> task(
        [&, environment = EnvironmentCopy()]() mutable { return SpawnWithSocket(program, child_end, environment); });
    auto pid = task.get_future();
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(task));
    }
    wake_.notify_one();
    return pid.get();
  }

 private:
  SpawningThread() {
    std::thread([this] { Run(); }).detach();
  }

  [[noreturn]] void Run() {
    for (;;) {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return !queue_.empty(); });
      auto task = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      task();
    }
  }

  std::mutex mutex_;  // guards queue_
  std::condition_variable wake_;
  std::deque<std::packaged_task<pid_t()>> queue_;
};

// True when `pid` has exited and is now reaped (or is no child of ours).
bool Reaped(pid_t pid, int options) {
  for (;;) {
    const pid_t r = ::waitpid(pid, nullptr, options);
    if (r == pid) return true;
    if (r < 0 && errno == EINTR) continue;
    return r < 0;  // ECHILD: nothing left to reap
  }
}

}  // namespace

std::unique_ptr<HostProcess> HostProcess::Spawn(const std::filesystem::path& program) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return nullptr;
  const pid_t pid = SpawningThread::Get().Spawn(program, pair[1]);
  ::close(pair[1]);
  if (pid < 0) {
    ::close(pair[0]);
    return nullptr;
  }
  return std::make_unique<HostProcess>(pid, pair[0]);
}

bool HostProcess::Ended() {
  std::lock_guard lock(mutex_);
  if (pid_ > 0 && Reaped(pid_, WNOHANG)) pid_ = -1;
  return pid_ <= 0;
}

void HostProcess::Kill() {
  std::lock_guard lock(mutex_);
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  Reaped(std::exchange(pid_, -1), 0);
}

void HostProcess::Stop(std::chrono::milliseconds grace) {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (!Ended() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Kill();
}

}  // namespace vorlink
