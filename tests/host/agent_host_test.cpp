// The main frame's sequences without windows: creation steps and their
// lines, session lock and unlock, shutdown.

#include "host/agent_host.h"

#include <httplib.h>

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

#include "platform/process/agent_process.h"
#include "platform/resources/resource_ids.h"
#include "support/free_ports.h"
#include "support/test_paths.h"
#include "text/text_codec.h"

namespace vorlink {
namespace {

// The log file's formatted lines ("DEBUG - ..." without the time), read
// anew on each call.
struct LineRecorder {
  std::vector<std::string> Read() const {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::string line;
      while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto at = line.find("] ");
        if (line.starts_with("[") && at != std::string::npos) out.push_back(line.substr(at + 2));
      }
    }
    return out;
  }
  std::filesystem::path dir;
  std::size_t taken = 0;
};

struct FakeWindow : FrameWindow {
  void LogLinesChanged() override { ++changes; }
  bool CreateFrame() override { return fail_step != 1; }
  bool RegisterSessionNotifications() override { return fail_step != 2; }
  bool CreateLogDialog() override { return fail_step != 6; }
  bool CreateTrayIcon(const std::string& t) override {
    tooltip = t;
    return fail_step != 8;
  }
  void StartSweepTimer(int ms) override { timer_ms = ms; }
  int fail_step = 0;
  int changes = 0;
  std::string tooltip;
  int timer_ms = 0;
};

// The embedded resources, with one of them missing or unloadable.
struct BrokenResources : platform::ResourceSource {
  platform::LoadedResource Load(std::string_view type, int id) const override {
    if (id == broken_id) return {status, {}};
    return platform::EmbeddedResourceSource().Load(type, id);
  }
  int broken_id = 0;
  platform::ResourceStatus status = platform::ResourceStatus::kNotFound;
};

class AgentHostTest : public ::testing::Test {
 protected:
  AgentHost& Host(const platform::ResourceSource* resources = nullptr, std::filesystem::path identity = {}) {
    ports_ = test::FreePorts(3);
    AgentHostOptions options;
    options.files.executable = "/opt/agent/vorlink45";
    options.files.log_directory = logs_.path().string();
    options.files.identity_folder = identity.empty() ? IdentityFolder() : identity;
    options.ports = ports_;
    options.install_browser_trust = false;
    options.files.resources = resources;
    options.timing.final_wait = std::chrono::milliseconds(0);
    host_ = std::make_unique<AgentHost>(options);
    recorder_.dir = logs_.path();
    return *host_;
  }
  std::vector<std::string> Lines() const {
    auto all = recorder_.Read();
    return {all.begin() + static_cast<long>(std::min(recorder_.taken, all.size())), all.end()};
  }
  std::vector<std::string> Errors() const {
    std::vector<std::string> errors;
    for (const auto& l : Lines()) {
      if (l.starts_with("ERROR")) errors.push_back(l);
    }
    return errors;
  }
  std::vector<std::string> TakeLines() {
    auto lines = Lines();
    recorder_.taken += lines.size();
    return lines;
  }
  void ForgetLines() { recorder_.taken = recorder_.Read().size(); }
  std::filesystem::path IdentityFolder() const { return data_.path() / "identity"; }
  std::string PortLine(int port) const { return "DEBUG - https 服務已經啟動, port = (int)" + std::to_string(port); }

  test::ScratchDir logs_, data_;
  LineRecorder recorder_;
  std::vector<int> ports_;
  FakeWindow window_;  // outlives the host, whose shutdown lines still reach it
  std::unique_ptr<AgentHost> host_;
};

TEST_F(AgentHostTest, CreationWritesItsLinesInOrderAndServes) {
  AgentHost& host = Host();
  ASSERT_TRUE(host.CreateWindowSequence(window_));
  const std::vector<std::string> expected = {
      "DEBUG - 建立新的使用者 https 憑證 (missing) = " + IdentityFolder().string(),
      "DEBUG - Zanthe程式 = vorlink45",
      "DEBUG - 版號 = 4.5.23.1",
      "DEBUG - IsProcessElevated() = (int)" + std::to_string(platform::IsProcessElevated()),
      PortLine(ports_[0]),
      "DEBUG - 設定元件 DLL 檢察 Timeout 時間(分鐘) = (int)600",
      "DEBUG - 啟動 timer 檢查, 間隔(分鐘) = (int)30",
  };
  EXPECT_EQ(Lines(), expected);
  EXPECT_EQ(window_.tooltip, "NESTO Zanthe - 版本 : 4.5.23.1");
  EXPECT_EQ(window_.timer_ms, 1800000);
  EXPECT_TRUE(host.server().IsRunning());
}

// The server presents the identity in the folder: made at the first start
// (the line above), the same one at the next, with no line.
TEST_F(AgentHostTest, ServesTheUsersIdentityAndKeepsItAcrossStarts) {
  std::string first_served;
  for (int start = 0; start < 2; ++start) {
    AgentHost& host = Host();
    ASSERT_TRUE(host.CreateWindowSequence(window_));
    httplib::SSLClient client("localhost", ports_[0]);
    client.set_ca_cert_path((IdentityFolder() / "ca.pem").c_str());
    client.enable_server_certificate_verification(true);
    auto res = client.Get("/");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    const std::string served = test::ReadFileText(IdentityFolder() / "server.pem");
    if (start == 0) first_served = served;
    EXPECT_EQ(served, first_served) << "the second start keeps the identity";
    const auto lines = Lines();
    const auto made = std::count_if(lines.begin(), lines.end(),
                                    [](const std::string& l) { return l.find("建立新的使用者") != std::string::npos; });
    EXPECT_EQ(made, start == 0 ? 1 : 0);
    host_.reset();
    ForgetLines();
  }
}

TEST_F(AgentHostTest, AFailingWindowStepEndsCreationWithOnlyItsErrorLine) {
  const std::pair<int, std::string> cases[] = {
      {1, "ERROR - 建立 主視窗失敗"},
      {2, "ERROR - Register Session Notification Failed!"},
      {6, "ERROR - 建立 作業記錄 視窗失敗"},
      {8, "ERROR - 建立 TrayIcon 視窗失敗"},
  };
  for (const auto& [step, line] : cases) {
    window_.fail_step = step;
    AgentHost& host = Host();
    ForgetLines();  // the identity's line, at the first start
    EXPECT_FALSE(host.CreateWindowSequence(window_)) << step;
    EXPECT_EQ(Lines(), std::vector<std::string>{line}) << step;
    EXPECT_FALSE(host.server().IsRunning());
    host_.reset();
    ForgetLines();
  }
}

// A missing or unloadable certificate resource, and an identity that cannot be made (its folder would be inside a
// file): one ERROR line each, and no server.
TEST_F(AgentHostTest, ResourceIdentityAndCertificateFailuresAreReported) {
  using S = platform::ResourceStatus;
  const std::filesystem::path unusable = "/dev/null/identity";
  struct Case {
    int broken;
    S status;
    std::filesystem::path identity;
    std::string line;
  } cases[] = {
      {platform::kIdrLocalCert, S::kNotFound, {}, "ERROR - 資源檔(IDR_LOCAL_CERT)不存在 !"},
      {platform::kIdrLocalCert, S::kLoadFailed, {}, "ERROR - 載入資源檔(IDR_LOCAL_CERT)失敗 !"},
      {0, S::kLoaded, unusable, "ERROR - 建立使用者 https 憑證失敗 !"},
  };
  for (const auto& c : cases) {
    BrokenResources resources;
    resources.broken_id = c.broken;
    resources.status = c.status;
    AgentHost& host = Host(&resources, c.identity);
    EXPECT_FALSE(host.CreateWindowSequence(window_));
    EXPECT_FALSE(host.server().IsRunning());
    EXPECT_EQ(Errors(), std::vector<std::string>{c.line});
    host_.reset();
    ForgetLines();
  }
}

TEST_F(AgentHostTest, NoFreePortEndsCreationAfterTheTimerIsSet) {
  AgentHost& host = Host();
  test::PortHolder a("127.0.0.1", ports_[0]), b("127.0.0.1", ports_[1]), c("::1", ports_[2]);
  EXPECT_FALSE(host.CreateWindowSequence(window_));
  const auto lines = TakeLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "DEBUG - 設定元件 DLL 檢察 Timeout 時間(分鐘) = (int)600");
  EXPECT_EQ(lines[lines.size() - 2], "DEBUG - 啟動 timer 檢查, 間隔(分鐘) = (int)30");
  EXPECT_EQ(lines.back(), "ERROR - https 服務啟動失敗");
}

bool WaitUntilStopped(HttpsServerHost& server) {
  for (int i = 0; i < 500 && server.IsRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !server.IsRunning();
}

TEST_F(AgentHostTest, LockGivesThePortUpAndUnlockTakesItBack) {
  AgentHost& host = Host();
  ASSERT_TRUE(host.CreateWindowSequence(window_));
  TakeLines();

  host.OnSessionChange(7);
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{
                             "DEBUG - SSL 服務模式 : TRUE",
                             "DEBUG - 收到 OnSessionChange(WTS_SESSION_LOCK) 指令, 準備進行切換使用者",
                             "DEBUG - 準備停止 sslServer 服務",
                             "DEBUG - sslServer 服務已停止",
                         }));
  ASSERT_TRUE(WaitUntilStopped(host.server()));
  {
    test::PortHolder free_now("127.0.0.1", ports_[0]);
    EXPECT_TRUE(free_now.holding()) << "another session's agent may take the port";
  }
  host.OnSessionChange(7);
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{
                             "DEBUG - SSL 服務模式 : FALSE",
                             "DEBUG - 收到 OnSessionChange(WTS_SESSION_LOCK) 指令, 準備進行切換使用者",
                         }));

  test::PortHolder other_session("::1", ports_[0]);
  host.OnSessionChange(8);
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{
                             "DEBUG - SSL 服務模式 : FALSE",
                             "DEBUG - 收到 OnSessionChange(WTS_SESSION_UNLOCK) 指令, 已經完成切換使用者",
                             "DEBUG - 準備啟動 sslServer 服務",
                             PortLine(ports_[1]),
                         }));
  host.OnSessionChange(8);
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{
                             "DEBUG - SSL 服務模式 : TRUE",
                             "DEBUG - 收到 OnSessionChange(WTS_SESSION_UNLOCK) 指令, 已經完成切換使用者",
                         }));
  host.OnSessionChange(3);
  EXPECT_EQ(TakeLines(), std::vector<std::string>{"DEBUG - SSL 服務模式 : TRUE"});
}

TEST_F(AgentHostTest, ShutdownStopsTheServerAndWritesNoComponentLinesForAnEmptyTable) {
  AgentHost& host = Host();
  ASSERT_TRUE(host.CreateWindowSequence(window_));
  TakeLines();
  host.Shutdown();
  EXPECT_EQ(TakeLines(), std::vector<std::string>{"DEBUG - sslServer 服務已停止"});
  EXPECT_TRUE(WaitUntilStopped(host.server()));
  host.Shutdown();
  EXPECT_TRUE(TakeLines().empty()) << "shutdown runs once";
}

TEST_F(AgentHostTest, ShutdownIsTheLastTimeTheWindowHearsOfTheViewerLines) {
  AgentHost& host = Host();
  ASSERT_TRUE(host.CreateWindowSequence(window_));
  const int before = window_.changes;
  host.Shutdown();
  EXPECT_GT(window_.changes, before) << "the stop line still reaches the viewer";
  const int at_shutdown = window_.changes;
  host.log().LogDebug("after shutdown");
  host_.reset();
  EXPECT_EQ(window_.changes, at_shutdown) << "a window may go once the host is shut down";
}

}  // namespace
}  // namespace vorlink
