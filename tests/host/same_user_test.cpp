// Only the agent's own user is served: another user's client gets no TLS
// handshake (the attack: a second local user drives the agent of the
// first), and refusals reach the log at most once per user and minute.

#include <gtest/gtest.h>

#include "host/server/same_user_gate.h"
#include "host/test_agent_server.h"
#include "platform/process/run_command.h"
#include "support/free_ports.h"

namespace vorlink {
namespace {

// curl as user `uid` (through setpriv when that is another user) to the
// agent on `host`; curl's exit status (0: answered over TLS; 35: the
// handshake failed).
int CurlAs(std::uint32_t uid, const std::string& host, int port) {
  platform::Command command;
  if (uid != ::geteuid()) {
    command = {"setpriv", "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(uid), "--clear-groups"};
  }
  for (const char* arg : {"curl", "-sk", "-o", "/dev/null", "--max-time", "10"}) command.push_back(arg);
  command.push_back("https://" + host + ":" + std::to_string(port) + "/");
  return platform::RunAndWait(command);
}

TEST(SameUserOnly, AnotherUsersClientGetsNoHandshakeOnEitherAddress) {
  if (::geteuid() != 0) GTEST_SKIP() << "a client of another user needs root to start";
  const auto ports = test::FreePorts(1);
  test::AgentServer agent(ports);
  ASSERT_TRUE(agent.server().Start());
  const std::uint32_t nobody = 65534, daemon_user = 1;
  const struct {
    std::uint32_t uid;
    const char* host;
    bool served;
  } cases[] = {
      {::geteuid(), "127.0.0.1", true}, {::geteuid(), "[::1]", true},  {nobody, "127.0.0.1", false},
      {nobody, "[::1]", false},         {daemon_user, "[::1]", false}, {nobody, "localhost", false},
  };
  for (const auto& c : cases) {
    const int status = CurlAs(c.uid, c.host, ports[0]);
    if (c.served) {
      EXPECT_EQ(status, 0) << c.uid << " " << c.host;
    } else {
      EXPECT_EQ(status, 35) << c.uid << " " << c.host << ": the connection must end before the handshake";
    }
  }
  const std::string log = agent.LogText();
  const auto count = [&log](const std::string& text) {
    std::size_t n = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("ERROR - 拒絕其他使用者的連線, uid = 65534"), 1u) << "three refusals, one line a minute";
  EXPECT_EQ(count("ERROR - 拒絕其他使用者的連線, uid = 1\r"), 1u);
}

// The gate alone, with the owners and times given: who is admitted, and
// which refusals are logged.
TEST(SameUserGate, AdmitsTheOwnUserAndLogsEachRefusedUserOncePerMinute) {
  test::ScratchDir dir;
  DiagnosticLog log;
  log.PrepareLogDirectory(dir.path().string());
  std::optional<std::uint32_t> owner;
  SameUserGate gate(log, 1000, [&owner](int) { return owner; });
  const auto t0 = SameUserGate::Clock::now();
  using std::chrono::seconds;
  const struct {
    std::optional<std::uint32_t> owner;
    seconds at;
    bool admitted;
    bool logged;
  } cases[] = {
      {1000, seconds(0), true, false},
      {0, seconds(0), false, true},
      {0, seconds(30), false, false},
      {2000, seconds(31), false, true},
      {std::nullopt, seconds(32), false, true},
      {std::nullopt, seconds(40), false, false},
      {0, seconds(61), false, true},
      {1000, seconds(62), true, false},
  };
  std::size_t lines = 0;
  for (const auto& c : cases) {
    owner = c.owner;
    EXPECT_EQ(gate.Admit(-1, t0 + c.at), c.admitted) << c.at.count();
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) text += test::ReadFileText(entry.path());
    std::size_t now = 0;
    for (auto at = text.find("拒絕其他使用者的連線"); at != std::string::npos;
         at = text.find("拒絕其他使用者的連線", at + 1))
      ++now;
    EXPECT_EQ(now - lines, c.logged ? 1u : 0u) << c.at.count();
    lines = now;
  }
}

}  // namespace
}  // namespace vorlink
