// Whether this user's agent runs, and which of the agent ports it serves:
// processes of this user named like the agent, and each port asked over
// TLS with the user's own authority as the only trusted one.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "host/doctor/doctor_checks.h"
#include "tls/identity_store.h"

namespace vorlink {
namespace fs = std::filesystem;
namespace {

enum class PortState {
  kFree,         // nothing listens
  kThisAgent,    // answers over TLS with this user's identity
  kOtherServer,  // answers over TLS with another certificate
  kNoHandshake,  // accepts and closes: another user's agent, or not TLS
};

}  // namespace

std::vector<int> AgentProcesses(const std::string& name) {
  std::vector<int> pids;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos || std::stoi(pid) == ::getpid()) continue;
    struct stat st {};
    if (::stat(entry.path().c_str(), &st) != 0 || st.st_uid != ::geteuid()) continue;
    std::string comm;
    std::getline(std::ifstream(entry.path() / "comm"), comm);
    if (comm == name) pids.push_back(std::stoi(pid));
  }
  return pids;
}

namespace {

bool Listening(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool open = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return open;
}

PortState Probe(int port, const fs::path& ca_file) {
  if (!Listening(port)) return PortState::kFree;
  for (const bool verify : {true, false}) {
    httplib::SSLClient client("127.0.0.1", port);
    client.set_connection_timeout(2);
    client.set_read_timeout(2);
    client.enable_server_certificate_verification(verify);
    if (verify) client.set_ca_cert_path(ca_file.c_str());
    if (auto res = client.Get("/")) return verify ? PortState::kThisAgent : PortState::kOtherServer;
  }
  return PortState::kNoHandshake;
}

std::string Join(const std::vector<int>& numbers) {
  std::string text;
  for (int n : numbers) text += (text.empty() ? "" : ", ") + std::to_string(n);
  return text;
}

}  // namespace

void CheckAgent(const DoctorSettings& settings, DoctorReport& report) {
  const auto pids = AgentProcesses(settings.program_name);
  const std::string running = pids.empty() ? "" : "running (pid " + Join(pids) + ")";
  const fs::path ca_file = settings.identity_folder / kIdentityCaFile;
  for (int port : settings.ports) {
    switch (Probe(port, ca_file)) {
      case PortState::kThisAgent:
        report.Ok("agent", (running.empty() ? "running" : running) +
                               ", serving https://localhost:" + std::to_string(port) + " with this user's identity");
        return;
      case PortState::kOtherServer:
        report.Ok("agent", "port " + std::to_string(port) +
                               " is served by another program, with a certificate this user's browsers do not trust"
                               " (pages go on to the next port)");
        break;
      case PortState::kNoHandshake:
        report.Ok("agent", "port " + std::to_string(port) +
                               " is taken by a program that closes this user's connections (another user's agent?)");
        break;
      case PortState::kFree: break;
    }
  }
  if (running.empty()) {
    report.Problem("agent", "no agent is running for this user",
                   "start it: " + settings.program_name + " &   (it also starts at every login)");
  } else {
    report.Problem("agent",
                   running + " but serving on none of ports " + Join(settings.ports) +
                       " (the session is locked, or the ports are taken)",
                   "unlock the session; else free a port and restart the agent: kill -TERM " + Join(pids) + "; " +
                       settings.program_name + " &");
  }
}

}  // namespace vorlink
