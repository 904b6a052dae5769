#pragma once
// A component host process: our program started with one end of a socket
// pair as its descriptor 3, the other end kept here. It is always reaped:
// by Ended() once it has exited, or by Stop() or Kill().
//
// Every host is started by one spawning thread that lives as long as the
// agent: the host asks for SIGKILL when its parent dies, and Linux sends
// that when the thread that started it ends, which for a worker thread of
// the listener could be any time.
//
// The process id is guarded by a mutex, so that Kill() from another
// thread never signals an id that Ended() has just reaped and the system
// may have reused.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>

namespace vorlink {

class HostProcess {
 public:
  // Starts `program`; null when the socket pair or the start fails.
  static std::unique_ptr<HostProcess> Spawn(const std::filesystem::path& program);

  HostProcess(pid_t pid, int fd) : pid_(pid), fd_(fd) {}
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;
  ~HostProcess() { Stop(std::chrono::milliseconds(0)); }

  int fd() const { return fd_; }

  // True once the child has exited (and been reaped).
  bool Ended();

  // Kills the child at once and reaps it; any thread. The socket stays
  // open, so the thread using it sees the end of stream.
  void Kill();

  // Closes our end (the child then releases its instance and exits),
  // waits up to `grace`, then kills the child. Idempotent; the thread that
  // uses the socket only.
  void Stop(std::chrono::milliseconds grace);

 private:
  std::mutex mutex_;  // guards pid_
  pid_t pid_ = -1;
  int fd_ = -1;
};

}  // namespace vorlink
