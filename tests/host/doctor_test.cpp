// `vorlink45 --doctor` on the situations a helper meets: a new account
// with nothing, a working set-up, an agent pushed off its first port,
// the old shared authority left in a browser, and a daemon that answers.

#include "host/doctor/doctor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

#include "host/agent_host.h"
#include "host/headless_window.h"
#include "platform/process/run_command.h"
#include "support/free_ports.h"
#include "support/test_paths.h"

namespace vorlink {
namespace {
namespace fs = std::filesystem;

constexpr const char* kModules =
    "p11-kit-trust: p11-kit-trust.so\n"
    "    token: System Trust\n"
    "        flags:\n"
    "               token-initialized\n"
    "softhsm2: /usr/lib/softhsm/libsofthsm2.so\n"
    "    token: \n"
    "        flags:\n"
    "               login-required\n"
    "opensc-pkcs11: opensc-pkcs11.so\n"
    "    token: Alice's card\n"
    "        flags:\n"
    "               login-required\n"
    "               token-initialized\n";

// A stand-in for pcscd: answers the version message of each client.
class FakePcscd {
 public:
  explicit FakePcscd(const fs::path& path) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 4);
    thread_ = std::thread([this] {
      for (int client; (client = ::accept(fd_, nullptr, nullptr)) >= 0;) {
        char request[20];
        if (::recv(client, request, sizeof request, MSG_WAITALL) == sizeof request) ::send(client, request + 8, 12, 0);
        ::close(client);
      }
    });
  }
  ~FakePcscd() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }

 private:
  int fd_;
  std::thread thread_;
};

// A program of another user's on a port: it closes every connection of
// ours before any TLS, as the agent of another user does.
class ClosingListener {
 public:
  explicit ClosingListener(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int yes = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 16);
    thread_ = std::thread([this] {
      for (int client; (client = ::accept(fd_, nullptr, nullptr)) >= 0;) ::close(client);
    });
  }
  ~ClosingListener() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }

 private:
  int fd_;
  std::thread thread_;
};

class DoctorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.home = home_.path();
    settings_.identity_folder = home_.path() / ".local/share/vorlink/identity";
    settings_.log_folder = home_.path() / ".local/state/Vorlink";
    settings_.nss_tools_folder = home_.path() / "nss";
    settings_.ports = test::FreePorts(3);
    settings_.pcscd_socket = home_.path() / "pcscd.comm";
    settings_.program_name = "no-such-agent";
    settings_.p11kit = (home_.path() / "p11-kit").string();
    std::ofstream(settings_.p11kit) << "#!/bin/sh\ncat <<'EOF'\n" << kModules << "EOF\n";
    fs::permissions(settings_.p11kit, fs::perms::owner_all);
  }
  // The report's lines as "area ok|PROBLEM text", and the exit status.
  std::pair<std::vector<std::string>, int> Run() {
    std::ostringstream out;
    const int status = RunDoctor(out, settings_);
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return {lines, status};
  }
  bool Has(const std::vector<std::string>& lines, const std::string& start, const std::string& part) {
    for (const auto& l : lines) {
      if (l.starts_with(start) && l.find(part) != std::string::npos) return true;
    }
    return false;
  }
  // The agent host as the agent starts, in this home, on the test's ports.
  std::unique_ptr<AgentHost> StartAgent() {
    ::setenv("HOME", home_.path().c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    AgentHostOptions options;
    options.files.executable = "/opt/agent/vorlink45";
    options.files.log_directory = settings_.log_folder.string();
    options.files.identity_folder = settings_.identity_folder;
    options.ports = settings_.ports;
    options.timing.final_wait = std::chrono::milliseconds(0);
    auto host = std::make_unique<AgentHost>(options);
    EXPECT_TRUE(host->CreateWindowSequence(window_));
    return host;
  }

  test::ScratchDir home_;
  DoctorSettings settings_;
  HeadlessWindow window_;
};

TEST_F(DoctorTest, ANewAccountGetsAFixForEachProblem) {
  const auto [lines, status] = Run();
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(Has(lines, "agent     PROBLEM  no agent is running for this user", ""));
  EXPECT_TRUE(Has(lines, "identity  PROBLEM  " + settings_.identity_folder.string(), "ca.pem: No such file"));
  EXPECT_TRUE(Has(lines, "pcscd     PROBLEM  ", "does not answer"));
  EXPECT_TRUE(Has(lines, "log       ok       ", "does not exist yet"));
  EXPECT_TRUE(Has(lines, "tokens    ok       module opensc-pkcs11 (opensc-pkcs11.so): token \"Alice's card\"", ""));
  EXPECT_TRUE(Has(lines, "tokens    ok       module softhsm2", ": no token"));
  EXPECT_EQ(lines.back(), "3 problems.");
  // Every problem line is followed by its fix.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(" PROBLEM ") != std::string::npos) {
      EXPECT_TRUE(lines[i + 1].starts_with(std::string(19, ' ') + "fix: ")) << lines[i];
    }
  }
}

TEST_F(DoctorTest, AWorkingSetUpHasNoProblemAndNamesThePort) {
  if (platform::RunAndWait({"certutil", "-H"}) < 0) GTEST_SKIP() << "certutil is not installed";
  fs::create_directories(home_.path() / ".mozilla/firefox/p.default");
  std::ofstream(home_.path() / ".mozilla/firefox/p.default/times.json") << "{}";
  ClosingListener other(settings_.ports[0]);
  FakePcscd pcscd(settings_.pcscd_socket);
  auto agent = StartAgent();
  // Trust is installed on the agent's own thread: wait for the profile's import.
  for (int i = 0; i < 100; ++i) {
    const auto [lines, status] = Run();
    if (status == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const auto [lines, status] = Run();
  EXPECT_EQ(status, 0) << ::testing::PrintToString(lines);
  EXPECT_TRUE(Has(lines, "agent     ok       port " + std::to_string(settings_.ports[0]), "closes this user's"));
  EXPECT_TRUE(Has(lines, "agent     ok       running, serving https://localhost:" + std::to_string(settings_.ports[1]),
                  "with this user's identity"));
  EXPECT_TRUE(Has(lines, "identity  ok       ", "valid until"));
  EXPECT_TRUE(Has(lines, "trust     ok       NSS database (Chromium and others) ", "trusts the agent"));
  EXPECT_TRUE(Has(lines, "trust     ok       Firefox profile ", "trusts the agent"));
  EXPECT_TRUE(Has(lines, "pcscd     ok       ", "answers"));
  EXPECT_EQ(lines.back(), "No problems found.");

  // The old shared authority, put back by hand: named, with the command that removes it.
  const fs::path db = home_.path() / ".local/share/pki/nssdb";
  ASSERT_EQ(platform::RunAndWait({"certutil", "-A", "-d", "sql:" + db.string(), "-n", "ORVA_SSLCA", "-t", "CT,c,c",
                                  "-i", test::SourcePath("resources/ORVA.crt").string()}),
            0);
  const auto [after, failed] = Run();
  EXPECT_EQ(failed, 1);
  EXPECT_TRUE(Has(after, "trust     PROBLEM  NSS database (Chromium and others) " + db.string(), "ORVA_SSLCA"));
  EXPECT_TRUE(Has(after, "                   fix: certutil -D -d sql:" + db.string() + " -n ORVA_SSLCA", ""));
}

}  // namespace
}  // namespace vorlink
