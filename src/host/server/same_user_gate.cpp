#include "host/server/same_user_gate.h"

#include <string>

#include "log/diagnostic_log.h"
#include "platform/net/socket_owner.h"

namespace vorlink {
namespace {

constexpr std::chrono::minutes kLogInterval{1};

}  // namespace

SameUserGate::SameUserGate(DiagnosticLog& log, std::uint32_t own_uid, OwnerLookup owner)
    : log_(log),
      own_uid_(own_uid),
      owner_(owner ? std::move(owner) : [](int fd) { return platform::PeerSocketOwner(fd); }) {}

bool SameUserGate::Admit(int fd, Clock::time_point now) {
  const auto owner = owner_(fd);
  if (owner && *owner == own_uid_) return true;
  LogRefusal(owner, now);
  return false;
}

void SameUserGate::LogRefusal(std::optional<std::uint32_t> owner, Clock::time_point now) {
  {
    std::lock_guard lock(mutex_);
    std::erase_if(last_logged_, [now](const auto& entry) { return now - entry.second >= kLogInterval; });
    if (!last_logged_.emplace(owner, now).second) return;
  }
  // One line per refused user and minute, so another user cannot fill the
  // log by connecting in a loop.
  log_.LogError("拒絕其他使用者的連線, uid = " + (owner ? std::to_string(*owner) : std::string("(unknown)")));
}

}  // namespace vorlink
