// A page's whole road over HTTPS: InitDLL creates the test component
// (registered and listed in a signed manifest), calls reach it by DISPID.
// Every case runs with the component in the agent and in a host process.

#include <dlfcn.h>
#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

#include "component/runtime/component_runtime.h"
#include "host/agent_host.h"
#include "host/headless_window.h"
#include "manifest_signer.h"
#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"
#include "support/child_processes.h"
#include "support/free_ports.h"
#include "support/test_paths.h"
#include "vorlink_component.h"

namespace vorlink {
namespace {
namespace fs = std::filesystem;

// The registration, run in `context` (InProcess or LocalServer).
void Register(const fs::path& folder, const std::string& context) {
  std::ofstream(folder / "components/ORVAPkcs11Crypto.ORVA_P11Crypto.component")
      << "CLSID={3f2a1b4c-5d6e-4f70-8192-a3b4c5d6e7f8}\nLibrary=../libtestcomponent.so\nContext=" << context << "\n";
}

// The agent's folder: the component library, its registration and a
// manifest signed over it.
void LayOutAgentFolder(const fs::path& folder, const std::string& context) {
  fs::copy_file(VORLINK_TEST_COMPONENT, folder / "libtestcomponent.so");
  fs::create_directories(folder / "components");
  Register(folder, context);
  const std::string key = test::ReadFileText(test::SourcePath("tools/dev-keys/manifest-dev.key.pem"));
  const auto cert =
      platform::EmbeddedResourceSource().Load(platform::kLocalhostResourceType, platform::kIdrLocalCert).bytes;
  const std::string text = manifest::ManifestText({key, cert, folder, {"libtestcomponent.so"}});
  std::ofstream(folder / "Vorlink.ini") << manifest::SignManifestText(text, key);
}

// The test component keeps its script and journal in files, so that the
// test drives a copy in a host process as it drives the one in the agent.
class ComponentEndToEnd : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ::setenv("VORLINK_TEST_COMPONENT_STATE", (folder_.path() / "state").c_str(), 1);
    LayOutAgentFolder(folder_.path(), GetParam());
    component_ = ::dlopen((folder_.path() / "libtestcomponent.so").c_str(), RTLD_NOW);
    ASSERT_NE(component_, nullptr);
    ports_ = test::FreePorts(1);
    AgentHostOptions options;
    options.files.executable = folder_.path() / "vorlink45";
    options.files.log_directory = (folder_.path() / "logs").string();
    options.files.identity_folder = folder_.path() / "identity";
    options.ports = ports_;
    options.install_browser_trust = false;
    options.timing.final_wait = std::chrono::milliseconds(0);
    options.timing.component_ticks = [this] { return ticks_.load(); };
    host_ = std::make_unique<AgentHost>(options);
    ASSERT_TRUE(host_->CreateWindowSequence(window_));
    client_ = std::make_unique<httplib::SSLClient>("localhost", ports_[0]);
    client_->set_ca_cert_path((folder_.path() / "identity/ca.pem").c_str());
    client_->enable_server_certificate_verification(true);
  }
  void TearDown() override {
    host_.reset();
    if (component_) ::dlclose(component_);
    ::unsetenv("VORLINK_TEST_COMPONENT_STATE");
    EXPECT_EQ(test::ZombieChildren(), 0);
  }
  template <typename F>
  F Control(const char* name) {
    return reinterpret_cast<F>(::dlsym(component_, name));
  }
  std::string Journal() {
    auto journal = Control<size_t (*)(char*, size_t)>("test_component_journal");
    std::string text(journal(nullptr, 0) + 1, '\0');
    journal(text.data(), text.size());
    text.pop_back();
    return text;
  }
  httplib::Result Post(const std::string& body) { return client_->Post("/ORVA", body, "text/plain"); }
  // "DLLToken=<n>" from a successful InitDLL answer.
  std::string InitDll() {
    auto init = Post("InitDLL=PKCS11");
    if (!init || !init->body.starts_with("||0||")) return "InitDLL failed";
    return "DLLToken=" + init->body.substr(5, init->body.size() - 7);
  }

  test::ScratchDir folder_;
  std::atomic<std::uint32_t> ticks_{0};  // the components' clock, in milliseconds
  void* component_ = nullptr;
  std::vector<int> ports_;
  HeadlessWindow window_;
  std::unique_ptr<AgentHost> host_;
  std::unique_ptr<httplib::SSLClient> client_;
};

TEST_P(ComponentEndToEnd, APageCreatesAComponentAndCallsIt) {
  auto init = Post("InitDLL=pkcs11");
  ASSERT_TRUE(init);
  ASSERT_TRUE(init->body.starts_with("||0||")) << init->body;
  const std::string token = init->body.substr(5, init->body.size() - 7);
  const std::string t = "DLLToken=" + token;

  Control<void (*)(int32_t, uint16_t, double)>("test_component_set_number")(5, VORLINK_VT_I4, 0);
  auto login = Post(t + "&ExecMethod=Login&Param1=1234");
  ASSERT_TRUE(login);
  EXPECT_EQ(login->body, "||0||0||");

  const std::u16string sig = u"MIIB\U0001F600sig";
  Control<void (*)(int32_t, const char16_t*, size_t)>("test_component_set_text")(8, sig.data(), sig.size());
  auto read = Post(t + "&ExecMethod=get_getSignature");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->body, "||0||MIIB\xed\xa0\xbd\xed\xb8\x80sig||");

  Control<void (*)(int32_t, uint16_t, double)>("test_component_set_number")(92, VORLINK_VT_UI4, 4294967295.0);
  Control<void (*)(int32_t, uint16_t, double)>("test_component_set_number")(46, VORLINK_VT_R8, 1234.9);
  EXPECT_EQ(Post(t + "&ExecMethod=getTempFree")->body, "||0||4294967295||");
  EXPECT_EQ(Post(t + "&ExecMethod=get_getFileSize")->body, "||0||1234||");

  Control<void (*)(int32_t, int)>("test_component_set_failing")(7, 1);
  auto failed = Post(t + "&ExecMethod=PKCS7Sign&Param1=data&Param2=1&Param3=x");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, 500);
  EXPECT_EQ(failed->get_header_value("EXCEPTION_WHAT"), "UNKNOWN");
  EXPECT_EQ(Post(t + "&ExecMethod=GetVersion")->body, "||0||4.5.23.1||") << "the token stays usable";

  EXPECT_EQ(Journal(), "5 method T:1234\n8 get\n92 method\n46 get\n7 method T:data I:1 I:0\n");
}

// A token belongs to the page origin that asked for it; the same calls
// from elsewhere are told the token does not exist.
TEST_P(ComponentEndToEnd, ATokenServesOnlyThePageOriginThatCreatedIt) {
  const std::string a = "https://bank.example";
  auto init = client_->Post("/ORVA", {{"Origin", a}}, "InitDLL=PKCS11", "text/plain");
  ASSERT_TRUE(init);
  ASSERT_TRUE(init->body.starts_with("||0||")) << init->body;
  const std::string call = "DLLToken=" + init->body.substr(5, init->body.size() - 7) + "&ExecMethod=Login&Param1=1";
  const std::string not_found = "||-1||沒有找到指定的 DllToken, 無法執行||";
  const std::pair<httplib::Headers, std::string> cases[] = {
      {{{"Origin", "https://evil.example"}}, not_found},
      {{{"Origin", a + ".evil.example"}}, not_found},
      {{{"Origin", "null"}}, not_found},
      {{}, not_found},
      {{{"Origin", a}}, "||0||0||"},
  };
  for (const auto& [headers, answer] : cases) {
    auto res = client_->Post("/ORVA", headers, call, "text/plain");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, answer) << (headers.empty() ? "(no Origin)" : headers.begin()->second);
  }
  EXPECT_EQ(Journal(), "5 method T:1\n") << "only the creating origin reached the component";
}

// A PIN reaches the component but never the log file, however the fields
// are ordered, repeated or encoded.
TEST_P(ComponentEndToEnd, PinsReachTheComponentButNotTheLog) {
  auto init = Post("InitDLL=PKCS11");
  ASSERT_TRUE(init);
  const std::string t = "DLLToken=" + init->body.substr(5, init->body.size() - 7);
  const std::string pin = "86420975", other = "97531864";
  const std::pair<std::string, std::string> requests[] = {
      {t + "&ExecMethod=Login&Param1=" + pin, "text/plain"},
      {"Param1=" + pin + "&" + t + "&Exec%4Dethod=Login", "text/plain"},
      {t + "&ExecMethod=GetVersion&Param1=" + other + "&ExecMethod=Login&Param1=" + pin,
       "application/x-www-form-urlencoded"},
      {t + "&ExecMethod=ChangePIN&Param2=" + other + "&Param1=" + pin, "application/x-www-form-urlencoded"},
  };
  for (const auto& [body, type] : requests) {
    auto res = client_->Post("/ORVA", body, type.c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << body;
  }
  EXPECT_EQ(Journal(), "5 method T:" + pin + "\n5 method T:" + pin + "\n5 method T:" + pin + "\n14 method T:" + pin +
                           " T:" + other + "\n");
  host_->Shutdown();
  const std::string log = test::ReadFileText(*fs::directory_iterator(folder_.path() / "logs"));
  EXPECT_EQ(log.find(pin), std::string::npos);
  EXPECT_EQ(log.find(other), std::string::npos);
  EXPECT_NE(log.find("&ExecMethod=Login&Param1=********\r\n"), std::string::npos);
  EXPECT_NE(log.find("-- PARAM Param1 = ******** , length = 8 bytes\r\n"), std::string::npos);
  EXPECT_NE(log.find("執行 Function = Login"), std::string::npos) << "the method name is still logged";
}

// Spellings the dispatch would not run (another case, a trailing NUL, a
// key with a trailing "+", fields joined by ";") still carry the PIN a user
// typed: in a body of either type or in the query, the log shows stars for
// it. The log's folder and file are the user's alone.
TEST_P(ComponentEndToEnd, PinSpellingsTheDispatchWouldNotRunLeaveOnlyStars) {
  const std::string t = InitDll();
  const std::string calls[] = {
      t + "&ExecMethod=login&Param1=",    t + "&ExecMethod=LOGIN&Param1=", t + "&ExecMethod=Login%00&Param1=",
      t + "&ExecMethod=Login&Param1+=",   t + ";ExecMethod=Login;Param1=", t + "&ExecMethod=changepin&Param2=",
      t + "&ExecMethod=INITSLOT;Param1=",
  };
  std::vector<std::string> pins;
  auto next_pin = [&pins] { return pins.emplace_back(std::to_string(86420000 + pins.size())); };
  for (const auto& call : calls) {
    for (const char* type : {"text/plain", "application/x-www-form-urlencoded"}) {
      ASSERT_TRUE(client_->Post("/ORVA", call + next_pin(), type)) << call;
    }
    ASSERT_TRUE(client_->Get("/ORVA?" + call + next_pin())) << call;
  }
  host_->Shutdown();
  const fs::path file = *fs::directory_iterator(folder_.path() / "logs");
  const std::string log = test::ReadFileText(file);
  for (const auto& pin : pins) EXPECT_EQ(log.find(pin), std::string::npos) << "PIN " << pin << " is in the log";
  std::size_t starred = 0;
  for (std::size_t at = log.find("********"); at != std::string::npos; at = log.find("********", at + 8)) ++starred;
  EXPECT_GE(starred, pins.size());
  EXPECT_EQ(fs::status(folder_.path() / "logs").permissions(), fs::perms(0700));
  EXPECT_EQ(fs::status(file).permissions(), fs::perms(0600));
}

TEST_P(ComponentEndToEnd, TwoInitDllRequestsMakeTwoComponents) {
  auto a = Post("InitDLL=PKCS11");
  auto b = Post("InitDLL=PKCS11");
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->body, b->body);
  host_->Shutdown();
  const std::string log = test::ReadFileText(*fs::directory_iterator(folder_.path() / "logs"));
  EXPECT_NE(log.find("所有子程式已經全部結束, 數量 = (int)2"), std::string::npos);
}

TEST_P(ComponentEndToEnd, ShutdownStopsTheServerFirstThenLogsTheComponentOutOnce) {
  auto init = Post("InitDLL=PKCS11");
  ASSERT_TRUE(init);
  host_->Shutdown();
  EXPECT_EQ(Journal(), "6 method\n");
  const std::string log = test::ReadFileText(*fs::directory_iterator(folder_.path() / "logs"));
  const auto stopped = log.find("sslServer 服務已停止");
  const auto ending = log.find("中介程式即將結束, 強制結束 PKCS11 元件, tokenId");
  const auto logout = log.find("強制 Logout() = (int)0");
  ASSERT_NE(stopped, std::string::npos);
  ASSERT_NE(ending, std::string::npos);
  EXPECT_LT(stopped, ending);
  EXPECT_LT(ending, logout);
  EXPECT_NE(log.find("所有子程式已經全部結束, 數量 = (int)1"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Contexts, ComponentEndToEnd, ::testing::Values("InProcess", "LocalServer"));

using CrashIsolation = ComponentEndToEnd;
INSTANTIATE_TEST_SUITE_P(Contexts, CrashIsolation, ::testing::Values("InProcess"));

// A component that crashes in its host process fails its own token with
// 500 UNKNOWN from then on; the agent, a second host process and a
// component inside the agent go on.
TEST_P(CrashIsolation, ACrashingHostFailsOnlyItsOwnToken) {
  const std::string in_agent = InitDll();
  Register(folder_.path(), "LocalServer");
  const std::string doomed = InitDll(), healthy = InitDll();
  for (const std::string* token : {&in_agent, &doomed, &healthy}) {
    ASSERT_TRUE(token->starts_with("DLLToken=")) << *token;
  }
  for (const char* call : {"&ExecMethod=Login&Param1=crash:null", "&ExecMethod=Login&Param1=1234"}) {
    auto failed = Post(doomed + call);
    ASSERT_TRUE(failed) << call;
    EXPECT_EQ(failed->status, 500) << call;
    EXPECT_EQ(failed->get_header_value("EXCEPTION_WHAT"), "UNKNOWN") << call;
  }
  EXPECT_EQ(test::ZombieChildren(), 0);
  EXPECT_EQ(Post(healthy + "&ExecMethod=Login&Param1=1234")->body, "||0||0||");
  EXPECT_EQ(Post(in_agent + "&ExecMethod=Login&Param1=1234")->body, "||0||0||");
  EXPECT_EQ(Journal(), "5 method T:1234\n5 method T:1234\n");
}

TEST_P(ComponentEndToEnd, TheSweepTimerEndsAComponentIdlePastTheTimeoutOnTheHostsClock) {
  auto init = Post("InitDLL=PKCS11");
  ASSERT_TRUE(init);
  const std::string call = "DLLToken=" + init->body.substr(5, init->body.size() - 7) + "&ExecMethod=GetVersion";
  ticks_ = kIdleTimeoutMinutes * 60000;  // idle exactly as long as allowed
  host_->OnTimer(kSweepTimerId);
  EXPECT_EQ(Post(call)->body, "||0||4.5.23.1||");
  ticks_ += kIdleTimeoutMinutes * 60000 + 1;
  host_->OnTimer(kSweepTimerId);
  EXPECT_EQ(Post(call)->body, "||-1||沒有找到指定的 DllToken, 無法執行||") << "its slot was emptied";
  EXPECT_EQ(Journal(), "6 method\n") << "logged out once when it timed out";
}

TEST(ComponentRuntime, CreationFailuresAreFailuresNotCrashes) {
  test::ScratchDir dir;
  ComponentRuntime runtime({dir.path()});
  EXPECT_EQ(runtime.Create("ORVAPkcs11Crypto.ORVA_P11Crypto"), nullptr) << "not registered";
  const std::pair<std::string, std::string> registrations[] = {
      {"no library", "CLSID={3f2a1b4c-5d6e-4f70-8192-a3b4c5d6e7f8}\n"},
      {"missing library", "CLSID={3f2a1b4c-5d6e-4f70-8192-a3b4c5d6e7f8}\nLibrary=/nonexistent.so\n"},
      {"not a component", "CLSID={3f2a1b4c-5d6e-4f70-8192-a3b4c5d6e7f8}\nLibrary=libc.so.6\n"},
      {"bad CLSID", "CLSID=nonsense\nLibrary=" + std::string(VORLINK_TEST_COMPONENT) + "\n"},
  };
  for (const auto& [what, text] : registrations) {
    std::ofstream(dir.path() / "X.component") << text;
    EXPECT_EQ(runtime.Create("X"), nullptr) << what;
  }
  std::ofstream(dir.path() / "X.component")
      << "CLSID={3f2a1b4c-5d6e-4f70-8192-a3b4c5d6e7f8}\nLibrary=" << VORLINK_TEST_COMPONENT << "\n";
  EXPECT_NE(runtime.Create("X"), nullptr);
}

}  // namespace
}  // namespace vorlink
