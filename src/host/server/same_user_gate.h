#pragma once
// Admits only connections that another process of the agent's own user
// opened: every accepted connection's peer socket is looked up in the
// kernel (platform/net/socket_owner.h) before anything is read or sent,
// and a connection of any other user (root included), or one whose owner
// cannot be found, is closed there, before the TLS handshake. Refusals
// are logged at most once per minute for each refused user.

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace vorlink {

class DiagnosticLog;

class SameUserGate {
 public:
  using Clock = std::chrono::steady_clock;
  using OwnerLookup = std::function<std::optional<std::uint32_t>(int fd)>;

  // `owner` finds a connection's peer user; by default the kernel's answer.
  explicit SameUserGate(DiagnosticLog& log, std::uint32_t own_uid = ::geteuid(), OwnerLookup owner = {});

  // True when the connection on `fd` may be served. Any worker thread.
  bool Admit(int fd, Clock::time_point now = Clock::now());

 private:
  void LogRefusal(std::optional<std::uint32_t> owner, Clock::time_point now);

  DiagnosticLog& log_;
  const std::uint32_t own_uid_;
  const OwnerLookup owner_;
  std::mutex mutex_;  // guards last_logged_
  // When each refused user (or, keyed by no uid, an unknown owner) was
  // last logged; entries older than a minute are dropped on each refusal.
  std::map<std::optional<std::uint32_t>, Clock::time_point> last_logged_;
};

}  // namespace vorlink
