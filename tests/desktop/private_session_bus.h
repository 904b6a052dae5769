#pragma once
// A private D-Bus session bus for the desktop tests: nothing auto-starts on
// it and nothing outside the test talks on it.

#include <string>

namespace vorlink::test {

class PrivateSessionBus {
 public:
  PrivateSessionBus();   // starts dbus-daemon and exports its address
  ~PrivateSessionBus();  // stops it
  bool running() const { return pid_ > 0; }

 private:
  std::string config_;
  int pid_ = -1;
};

// Emits ActiveChanged(active) from a process that owns `service`.
bool EmitScreenSaverActive(const std::string& service, const std::string& path, bool active);

}  // namespace vorlink::test
