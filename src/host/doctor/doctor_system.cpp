// What the machine gives the agent: p11-kit's modules and tokens, the PC/SC
// daemon that card readers need, and the agent's log folder.

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

struct Module {
  std::string name, path;
  std::vector<std::string> tokens;  // labels of initialized tokens
  bool trust_store = false;         // p11-kit's own store of trusted certificates
};

// `p11-kit list-modules`: "name: path" at the line start, "    token: label"
// under it, and the token's flags further in ("token-initialized").
std::vector<Module> ParseModules(const std::string& listing) {
  std::vector<Module> modules;
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
      Module m{line.substr(0, colon), line.substr(colon + 2), {}, false};
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

void CheckTokens(const DoctorSettings& settings, DoctorReport& report) {
  const auto listed = platform::RunAndCapture({settings.p11kit, "list-modules"}, std::chrono::seconds(20));
  if (listed.status != 0) {
    report.Problem("tokens", "p11-kit cannot list the PKCS#11 modules (" + settings.p11kit + " list-modules failed)",
                   "sudo apt-get install p11-kit");
    return;
  }
  bool any_token = false;
  for (const auto& m : ParseModules(listed.out)) {
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

void CheckPcscd(const DoctorSettings& settings, DoctorReport& report) {
  std::string why;
  if (PcscdAnswers(settings.pcscd_socket, why)) {
    report.Ok("pcscd", settings.pcscd_socket.string() + " answers");
  } else {
    report.Problem("pcscd",
                   settings.pcscd_socket.string() + " does not answer (" + why + "): card readers cannot be used",
                   "sudo apt-get install pcscd && sudo systemctl enable --now pcscd.socket");
  }
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
