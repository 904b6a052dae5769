// What the machine gives the agent: p11-kit's modules and tokens (as the
// running agent sees them), the PC/SC daemon that card readers need, and
// the agent's log folder.

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/doctor/doctor_checks.h"
#include "platform/process/run_command.h"

namespace vorlink {
namespace fs = std::filesystem;
namespace {

// `p11-kit list-modules`: "name: path" at the line start, "    token: label"
// under it, and the token's flags further in ("token-initialized").
std::vector<RegisteredModule> ParseModules(const std::string& listing) {
  std::vector<RegisteredModule> modules;
  std::istringstream lines(listing);
  std::string line, token;
  bool in_token = false;
  const auto flush = [&] {
    if (in_token && !modules.empty()) modules.back().tokens.push_back(token);
    in_token = false;
  };
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] != ' ') {
      flush();
      const auto colon = line.find(": ");
      if (colon == std::string::npos) continue;
      RegisteredModule m{line.substr(0, colon), line.substr(colon + 2), {}, false};
      m.trust_store = m.name == "p11-kit-trust";
      modules.push_back(m);
    } else if (line.starts_with("    token: ")) {
      flush();
      token = line.substr(11);
    } else if (line.find("token-initialized") != std::string::npos && !modules.empty()) {
      in_token = true;
    }
  }
  flush();
  return modules;
}

// The running agent's environment, read from /proc (it is this user's).
std::vector<std::string> AgentEnvironment(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
  std::vector<std::string> variables;
  for (std::string variable; std::getline(in, variable, '\0');) {
    if (!variable.empty()) variables.push_back(variable);
  }
  return variables;
}

std::string Quoted(const std::vector<std::string>& labels) {
  std::string text;
  for (const auto& l : labels) text += (text.empty() ? "\"" : ", \"") + l + "\"";
  return text;
}

// pcsc-lite's first message on its socket: the protocol version (command
// 0x11 with major, minor and a result code), which the daemon answers with
// the same structure.
bool PcscdAnswers(const fs::path& socket_path, std::string& why) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path.string().size() >= sizeof address.sun_path) return why = "path too long", false;
  std::strcpy(address.sun_path, socket_path.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bool answered = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    why = std::strerror(errno);
  } else {
    const std::uint32_t request[5] = {12, 0x11, 4, 4, 0};  // header {size, command}, then {major, minor, rv}
    pollfd p{fd, POLLIN, 0};
    char reply[12];
    answered = ::send(fd, request, sizeof request, MSG_NOSIGNAL) == sizeof request && ::poll(&p, 1, 3000) == 1 &&
               ::recv(fd, reply, sizeof reply, MSG_WAITALL) == sizeof reply;
    if (!answered) why = "no answer within 3 s";
  }
  ::close(fd);
  return answered;
}

}  // namespace

platform::Command AsTheAgent(const DoctorSettings& settings, platform::Command command, std::string* whose) {
  const auto pids = AgentProcesses(settings.program_name);
  if (pids.empty()) return command;
  // Modules find their tokens through the environment (SoftHSM2's
  // SOFTHSM2_CONF names the demo token's), so they are asked with the
  // agent's environment, not the doctor's.
  platform::Command as_agent = {"env", "-i"};
  for (std::string& variable : AgentEnvironment(pids.front())) as_agent.push_back(std::move(variable));
  as_agent.insert(as_agent.end(), command.begin(), command.end());
  if (whose) *whose = "the running agent's (pid " + std::to_string(pids.front()) + ") environment";
  return as_agent;
}

bool ListRegisteredModules(const DoctorSettings& settings, std::vector<RegisteredModule>& modules, std::string* whose) {
  const auto listed =
      platform::RunAndCapture(AsTheAgent(settings, {settings.p11kit, "list-modules"}, whose), std::chrono::seconds(20));
  if (listed.status != 0) return false;
  modules = ParseModules(listed.out);
  return true;
}

void CheckTokens(const DoctorSettings& settings, DoctorReport& report) {
  std::vector<RegisteredModule> modules;
  std::string whose;
  if (!ListRegisteredModules(settings, modules, &whose)) {
    report.Problem("tokens", "p11-kit cannot list the PKCS#11 modules (" + settings.p11kit + " list-modules failed)",
                   "sudo apt-get install p11-kit");
    return;
  }
  if (!whose.empty()) report.Ok("tokens", "modules and tokens as seen with " + whose);
  bool any_token = false;
  for (const auto& m : modules) {
    report.Ok("tokens", "module " + m.name + " (" + m.path +
                            "): " + (m.tokens.empty() ? "no token" : "token " + Quoted(m.tokens)) +
                            (m.trust_store ? " (p11-kit's trusted certificates, not for signing)" : ""));
    any_token = any_token || (!m.trust_store && !m.tokens.empty());
  }
  if (!any_token) {
    report.Problem("tokens", "no token to sign with is present",
                   "insert the card or token; a card reader needs pcscd (below); another vendor's token needs its "
                   "PKCS#11 module registered with p11-kit (p11-kit list-modules shows them)");
  }
}

bool CheckPcscd(const DoctorSettings& settings, DoctorReport& report) {
  std::string why;
  if (PcscdAnswers(settings.pcscd_socket, why)) {
    report.Ok("pcscd", settings.pcscd_socket.string() + " answers");
    return true;
  }
  report.Problem("pcscd",
                 settings.pcscd_socket.string() + " does not answer (" + why + "): card readers cannot be used",
                 "sudo apt-get install pcscd && sudo systemctl enable --now pcscd.socket");
  return false;
}

void CheckLogFolder(const DoctorSettings& settings, DoctorReport& report) {
  const fs::path& folder = settings.log_folder;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) {
    report.Ok("log", folder.string() + " does not exist yet (the agent makes it at its first start)");
    return;
  }
  if ((st.st_mode & 07777) != 0700) {
    report.Problem("log", folder.string() + " can be read by other users", "chmod 700 " + folder.string());
    return;
  }
  fs::path latest;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.path().filename().string().starts_with("NestoVorlink45.log.") && entry.path() > latest) {
      latest = entry.path();
    }
  }
  std::string last_error;
  std::ifstream in(latest);
  for (std::string line; std::getline(in, line);) {
    if (line.find("] ERROR - ") != std::string::npos) last_error = line.substr(0, line.find_last_not_of('\r') + 1);
  }
  report.Ok("log", folder.string() +
                       (latest.empty() ? ", no log file yet" : ", latest file " + latest.filename().string()) +
                       (last_error.empty() ? "" : "; its last ERROR line: " + last_error));
}

}  // namespace vorlink
