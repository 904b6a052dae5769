#pragma once
// A component host process: our program started with one end of a socket
// pair as its descriptor 3, the other end kept here. It is always reaped:
// by Ended() once it has exited, or by Stop().

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>

namespace vorlink {

class HostProcess {
 public:
  // Starts `program`; nullopt when the socket pair or the start fails.
  static std::optional<HostProcess> Spawn(const std::filesystem::path& program);

  HostProcess(HostProcess&& other) noexcept;
  HostProcess& operator=(HostProcess&&) = delete;
  ~HostProcess() { Stop(std::chrono::milliseconds(0)); }

  int fd() const { return fd_; }

  // True once the child has exited (and been reaped).
  bool Ended();

  // Closes our end (the child then releases its instance and exits),
  // waits up to `grace`, then kills the child. Idempotent.
  void Stop(std::chrono::milliseconds grace);

 private:
  HostProcess(pid_t pid, int fd) : pid_(pid), fd_(fd) {}
  pid_t pid_ = -1;
  int fd_ = -1;
};

}  // namespace vorlink
