#include "private_session_bus.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace vorlink::test {

PrivateSessionBus::PrivateSessionBus() {
  char dir[] = "/tmp/vorlink-bus-XXXXXX";
  if (!::mkdtemp(dir)) return;
  config_ = std::string(dir) + "/bus.conf";
  std::ofstream(config_) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                            "<busconfig><type>session</type><listen>unix:dir="
                         << dir
                         << "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
  const std::string command = "dbus-daemon --fork --config-file=" + config_ + " --print-address=1 --print-pid=1";
  FILE* out = ::popen(command.c_str(), "r");
  if (!out) return;
  char address[512] = {}, pid[32] = {};
  if (std::fgets(address, sizeof address, out) && std::fgets(pid, sizeof pid, out)) {
    std::string a(address);
    a.erase(a.find_last_not_of("\n") + 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", a.c_str(), 1);
    pid_ = std::atoi(pid);
  }
  ::pclose(out);
}

PrivateSessionBus::~PrivateSessionBus() {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
}

bool EmitScreenSaverActive(const std::string& service, const std::string& path, bool active) {
  const std::string script =
      "import dbus, dbus.service\n"
      "bus = dbus.SessionBus()\n"
      "name = dbus.service.BusName('" +
      service +
      "', bus)\n"
      "msg = dbus.lowlevel.SignalMessage('" +
      path + "', '" + service +
      "', 'ActiveChanged')\n"
      "msg.append(dbus.Boolean(" +
      (active ? "True" : "False") +
      "))\n"
      "bus.send_message(msg)\n"
      "bus.flush()\n";
  const std::string command = "/usr/bin/python3 -c \"" + script + "\"";
  return std::system(command.c_str()) == 0;
}

}  // namespace vorlink::test
