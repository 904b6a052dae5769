#pragma once
// The agent's "please wait" window around long work, through the host
// services when the agent offers them; nothing otherwise.

#include <string>

#include "vorlink_component.h"

namespace p11crypto {

class HostWaitWindow {
 public:
  HostWaitWindow(const vorlink_host_services* host, const std::string& message);
  ~HostWaitWindow();
  HostWaitWindow(const HostWaitWindow&) = delete;
  HostWaitWindow& operator=(const HostWaitWindow&) = delete;

  void SetMessage(const std::string& message);

 private:
  const vorlink_host_services* host_;
};

// True when `host` is there and was built with `member` in its table.
#define P11CRYPTO_HOST_HAS(host, member) \
  ((host) && (host)->size >= offsetof(vorlink_host_services, member) + sizeof((host)->member) && (host)->member)

}  // namespace p11crypto
