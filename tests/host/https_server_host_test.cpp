// The HTTPS server host and the request endpoint, over real TLS on real
// loopback sockets.

#include "host/server/https_server_host.h"

#include <httplib.h>

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

#include "host/test_agent_server.h"
#include "log/diagnostic_log.h"
#include "platform/resources/resource_ids.h"
#include "support/free_ports.h"
#include "support/test_paths.h"

namespace vorlink {
namespace {

using test::AgentServer;
using test::Client;
using test::Resource;

class ServerHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ports_ = test::FreePorts(3);
    agent_ = std::make_unique<AgentServer>(ports_);
    ASSERT_TRUE(agent_->server().Start());
  }
  httplib::SSLClient& client() {
    if (!client_) client_ = Client("localhost", ports_[0]);
    return *client_;
  }

  std::vector<int> ports_;
  std::unique_ptr<AgentServer> agent_;
  std::unique_ptr<httplib::SSLClient> client_;
};

TEST_F(ServerHostTest, AnswersOnBothLoopbackAddressesOverVerifiedTls) {
  for (const std::string host : {"localhost", "127.0.0.1", "::1"}) {
    auto c = Client(host, ports_[0]);
    auto res = c->Post("/", "DLLToken=1&ExecMethod=GetVersion", "text/plain");
    ASSERT_TRUE(res) << host << ": " << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "||-1||沒有找到指定的 DllToken, 無法執行||") << host;
  }
  EXPECT_NE(agent_->LogText().find("https 服務已經啟動, port = (int)" + std::to_string(ports_[0])), std::string::npos);
}

TEST_F(ServerHostTest, EmptyGetAndHeadAreServedByTheRequestHandler) {
  auto get = client().Get("/");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 200);
  EXPECT_EQ(get->body, "");
  EXPECT_EQ(get->get_header_value("Content-Type"), "text/html; charset=utf-8");
  auto head = client().Head("/ORVA");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->get_header_value("Access-Control-Max-Age"), "1728000");
}

TEST_F(ServerHostTest, PathsAreMatchedWholeAndCaseSensitively) {
  const std::pair<std::string, int> cases[] = {
      {"/ORVA", 200}, {"/", 200}, {"/orva", 404}, {"/ORVA/", 404}, {"/x", 404},
  };
  for (const auto& [path, status] : cases) {
    auto res = client().Get(path.c_str());
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, status) << path;
  }
  auto put = client().Put("/", "DLLToken=1", "text/plain");
  ASSERT_TRUE(put);
  EXPECT_NE(put->status, 200);
}

TEST_F(ServerHostTest, QueryFormAndPlainTextBodiesAreAnsweredAlike) {
  const std::string expected = "||-1||CGI內容錯誤||";
  auto get = client().Get("/?dlltoken=1&ExecMethod=GetVersion");
  auto form = client().Post("/", "dlltoken=1", "application/x-www-form-urlencoded");
  auto text = client().Post("/ORVA", "dlltoken=1", "text/plain");
  for (auto* res : {&get, &form, &text}) {
    ASSERT_TRUE(*res);
    EXPECT_EQ((*res)->status, 200);
    EXPECT_EQ((*res)->body, expected);
  }
  auto init = client().Post("/", "InitDLL=capi&DLLToken=1", "text/plain");
  ASSERT_TRUE(init);
  EXPECT_EQ(init->body, "||-1||驗證 DLL 檔失敗(1)||");
}

TEST_F(ServerHostTest, OversizedFormIsRefusedButPlainTextIsNot) {
  const std::string big = "DLLToken=1&Param1=" + std::string(9000, 'a');
  auto form = client().Post("/", big, "application/x-www-form-urlencoded");
  ASSERT_TRUE(form);
  EXPECT_EQ(form->status, 413);
  auto text = client().Post("/", big, "text/plain");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->status, 200);
}

TEST_F(ServerHostTest, InvalidUtf8IsAnsweredWith500BadConversion) {
  auto res = client().Post("/", "DLLToken=1&ExecMethod=%FF", "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 500);
  EXPECT_EQ(res->get_header_value("EXCEPTION_WHAT"), "bad conversion");
}

TEST_F(ServerHostTest, CorsHeadersOnAnswersAndPreflights) {
  auto res = client().Post("/", {{"Origin", "https://shop.example:8443/cart?x=1"}}, "a=1", "text/plain");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->get_header_value("Access-Control-Allow-Origin"), "https://shop.example:8443");
  EXPECT_EQ(res->get_header_value("Access-Control-Allow-Method"), "POST, GET, OPTIONS");

  auto none = client().Post("/", "a=1", "text/plain");
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->has_header("Access-Control-Allow-Origin"));
  EXPECT_EQ(none->get_header_value("Access-Control-Allow-Private-Network"), "true");

  auto pre = client().Options("/ORVA", {{"Referer", "http://page.example/dir/p.html"},
                                        {"Access-Control-Request-Method", "POST"},
                                        {"Access-Control-Request-Private-Network", "true"}});
  ASSERT_TRUE(pre);
  EXPECT_EQ(pre->status, 204);
  EXPECT_EQ(pre->body, "");
  EXPECT_EQ(pre->get_header_value("Access-Control-Allow-Origin"), "http://page.example/dir/p.html");
  EXPECT_EQ(pre->get_header_value("Access-Control-Allow-Method"), "POST");
  EXPECT_EQ(pre->get_header_value("Access-Control-Allow-Private-Network"), "true");
  EXPECT_FALSE(pre->has_header("Access-Control-Max-Age"));

  auto bare = client().Options("/");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->get_header_value("Access-Control-Allow-Origin"), "*");
  EXPECT_FALSE(bare->has_header("Access-Control-Allow-Method"));
}

TEST_F(ServerHostTest, StopFreesThePortAndStartTakesItAgain) {
  EXPECT_FALSE(agent_->server().InstallCertificate(Resource(platform::kIdrLocalCert), test::DevelopmentKey()))
      << "installing while running must fail";
  agent_->server().Stop();
  for (int i = 0; i < 500 && agent_->server().IsRunning(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(agent_->server().IsRunning());
  EXPECT_EQ(agent_->server().CurrentPort(), -1);
  {
    test::PortHolder v4("127.0.0.1", ports_[0]);
    EXPECT_TRUE(v4.holding()) << "the stopped server must have released the port";
  }
  ASSERT_TRUE(agent_->server().Start());
  EXPECT_EQ(agent_->server().CurrentPort(), ports_[0]);
  auto res = Client("localhost", ports_[0])->Get("/");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
}

// The command-line client a developer tries first, with the CA file.
TEST_F(ServerHostTest, CurlWithTheCaFileGetsTheAnswer) {
  for (const std::string host : {"localhost", "127.0.0.1"}) {
    const std::string command = "curl -s --max-time 10 --cacert " + test::SourcePath("resources/ORVA.crt").string() +
                                " -H 'Content-Type: text/plain' -d 'DLLToken=1&ExecMethod=GetVersion' " +
                                "-w ' %{http_code}' https://" + host + ":" + std::to_string(ports_[0]) + "/";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe)) out += buf;
    ::pclose(pipe);
    EXPECT_EQ(out, "||-1||沒有找到指定的 DllToken, 無法執行|| 200") << host;
  }
}

TEST(ServerHostPorts, APortTakenOnEitherLoopbackAddressIsSkipped) {
  for (const char* address : {"127.0.0.1", "::1"}) {
    const auto ports = test::FreePorts(3);
    test::PortHolder holder(address, ports[0]);
    ASSERT_TRUE(holder.holding());
    AgentServer agent(ports);
    ASSERT_TRUE(agent.server().Start()) << address;
    EXPECT_EQ(agent.server().CurrentPort(), ports[1]) << address;
    EXPECT_NE(agent.LogText().find("https 服務已經啟動, port = (int)" + std::to_string(ports[1])), std::string::npos);
    auto res = Client("127.0.0.1", ports[1])->Get("/");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
  }
}

TEST(ServerHostPorts, ASecondAgentOfTheSameUserTakesTheNextPort) {
  // Two agents on one port would share its connections out between them.
  const auto ports = test::FreePorts(3);
  AgentServer first(ports), second(ports);
  ASSERT_TRUE(first.server().Start());
  ASSERT_TRUE(second.server().Start());
  EXPECT_EQ(first.server().CurrentPort(), ports[0]);
  EXPECT_EQ(second.server().CurrentPort(), ports[1]);
}

TEST(ServerHostPorts, AllPortsTakenMeansNoStart) {
  const auto ports = test::FreePorts(3);
  test::PortHolder a("127.0.0.1", ports[0]), b("::1", ports[1]), c("127.0.0.1", ports[2]);
  AgentServer agent(ports);
  EXPECT_FALSE(agent.server().Start());
  EXPECT_FALSE(agent.server().IsRunning());
  EXPECT_EQ(agent.server().CurrentPort(), -1);
  // Nothing may stay bound after the failed attempts.
  test::PortHolder v6("::1", ports[0]);
  EXPECT_TRUE(v6.holding());
}

TEST(ServerHostPorts, ListensOnLoopbackOnly) {
  const auto ports = test::FreePorts(3);
  AgentServer agent(ports);
  ASSERT_TRUE(agent.server().Start());
  // Every socket listening on our port is bound to a loopback address.
  std::ifstream tcp4("/proc/net/tcp"), tcp6("/proc/net/tcp6");
  char port_hex[8];
  std::snprintf(port_hex, sizeof port_hex, ":%04X", ports[0]);
  int listening = 0;
  for (auto* file : {&tcp4, &tcp6}) {
    std::string line;
    while (std::getline(*file, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (state != "0A" || local.find(port_hex) == std::string::npos) continue;
      ++listening;
      const std::string addr = local.substr(0, local.find(':'));
      EXPECT_TRUE(addr == "0100007F" || addr == "00000000000000000000000001000000") << addr;
    }
  }
  EXPECT_GE(listening, 1);
}

TEST(ServerHostCertificate, RefusesAKeyThatIsNotTheCertificates) {
  test::ScratchDir dir;
  DiagnosticLog log;
  HttpsServerHost host(log, test::FreePorts(1));
  auto cert = Resource(platform::kIdrLocalCert);
  EXPECT_FALSE(host.InstallCertificate({}, test::DevelopmentKey()));
  EXPECT_FALSE(host.InstallCertificate(cert, std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_FALSE(host.Start()) << "no TLS context, no listener";
}

}  // namespace
}  // namespace vorlink
