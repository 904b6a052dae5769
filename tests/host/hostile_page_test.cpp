// What a hostile web page tried against the agent, made again through the
// real agent over HTTPS against the bundled component in its host process
// (a SoftHSM2 token behind it): loading a library of its own, probing and
// hanging on device files, flooding InitDLL, and racing a link into
// signBigFile. Each attack must fail without harm while other pages are
// served.

#include <openssl/evp.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include "component/component_host_services.h"
#include "host/agent_host.h"
#include "host/headless_window.h"
#include "manifest_signer.h"
#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"
#include "scratch_home.h"
#include "support/child_processes.h"
#include "support/free_ports.h"
#include "test_token.h"

namespace vorlink {
namespace {
namespace fs = std::filesystem;
using std::chrono::steady_clock;

constexpr const char* kPage = "https://page.example";
constexpr const char* kOtherPage = "https://other.example";
constexpr const char* kRefused = "||0||20495||";
constexpr const char* kRefusedMessage =
    "||0||the module is neither registered with p11-kit nor allowed by the administrator||";
constexpr const char* kCreationFailed = "||-1||中介程式 PKCS11 DLL 載入失敗||";
constexpr ComponentLimits kLimits{3, 5, std::chrono::milliseconds(2000)};

// The agent's folder with the bundled component, run out of process.
void LayOutAgentFolder(const fs::path& folder) {
  fs::copy_file(P11CRYPTO_LIBRARY, folder / "libp11crypto.so");
  fs::create_directories(folder / "components");
  std::ofstream(folder / "components/ORVAPkcs11Crypto.ORVA_P11Crypto.component")
      << "CLSID={9b1e4c27-6a3d-4f58-b0c2-7e5d8a913f46}\nLibrary=../libp11crypto.so\nContext=LocalServer\n";
  const std::string key = test::ReadFileText(test::SourcePath("tools/dev-keys/manifest-dev.key.pem"));
  const auto cert =
      platform::EmbeddedResourceSource().Load(platform::kLocalhostResourceType, platform::kIdrLocalCert).bytes;
  const std::string text = manifest::ManifestText({key, cert, folder, {"libp11crypto.so"}});
  std::ofstream(folder / "Vorlink.ini") << manifest::SignManifestText(text, key);
}

std::string Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string PercentEncoded(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    out += std::isalnum(c) || c == '.' || c == '/' || c == '_' || c == '-' ? std::string(1, static_cast<char>(c)) : hex;
  }
  return out;
}

// Dialogs never open; the test may act when the wait window closes.
struct TestHostServices final : ComponentHostServices {
  std::optional<std::string> SelectFolder(const std::string&) override { return std::nullopt; }
  std::optional<std::vector<std::string>> SelectFiles(const std::string&) override { return std::nullopt; }
  void BeginWait(const std::string&) override {}
  void SetWaitMessage(const std::string&) override {}
  void EndWait() override {
    if (on_end_wait) std::exchange(on_end_wait, nullptr)();
  }
  std::function<void()> on_end_wait;
};

class HostilePage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(test::SharedTestToken(), nullptr);  // SOFTHSM2_CONF for the hosts
    // The hosts inherit these; set before the agent's threads start.
    ::setenv("VORLINK_TEST_LOAD_TRACE", trace().c_str(), 1);
    ::setenv("VORLINK_MODULE_ALLOW_DIR", allow_.path().c_str(), 1);
    fs::create_directories(home_.working());
    LayOutAgentFolder(folder_.path());
    ports_ = test::FreePorts(1);
    AgentHostOptions options;
    options.files.executable = folder_.path() / "vorlink45";
    options.files.log_directory = (folder_.path() / "logs").string();
    options.files.identity_folder = folder_.path() / "identity";
    options.ports = ports_;
    options.install_browser_trust = false;
    options.timing.final_wait = std::chrono::milliseconds(0);
    options.desktop.component_host = &services_;
    options.component_limits = kLimits;
    host_ = std::make_unique<AgentHost>(options);
    ASSERT_TRUE(host_->CreateWindowSequence(window_));
    client_ = std::make_unique<httplib::SSLClient>("localhost", ports_[0]);
    client_->set_ca_cert_path((folder_.path() / "identity/ca.pem").c_str());
    client_->enable_server_certificate_verification(true);
    client_->set_read_timeout(std::chrono::seconds(30));
  }
  void TearDown() override {
    host_.reset();
    ::unsetenv("VORLINK_MODULE_ALLOW_DIR");
    ::unsetenv("VORLINK_TEST_LOAD_TRACE");
    EXPECT_EQ(test::ZombieChildren(), 0);
    EXPECT_TRUE(test::LiveChildren().empty()) << "every host process ends with the agent's shutdown";
  }

  // Where the library the page writes would leave its trace if it ran.
  fs::path trace() const { return home_.outside() / "loaded"; }

  httplib::Result Post(const std::string& body, const std::string& origin = kPage) {
    return client_->Post("/ORVA", {{"Origin", origin}}, body, "text/plain");
  }
  // The token's number, or the failed answer.
  std::string InitDll(const std::string& origin = kPage) {
    auto res = Post("InitDLL=PKCS11", origin);
    if (!res) return "no answer";
    if (!res->body.starts_with("||0||")) return res->body;
    return res->body.substr(5, res->body.size() - 7);
  }
  std::string Call(const std::string& token, const std::string& method, const std::vector<std::string>& params = {}) {
    std::string body = "DLLToken=" + token + "&ExecMethod=" + method;
    for (std::size_t i = 0; i < params.size(); ++i) {
      body += "&Param" + std::to_string(i + 1) + "=" + PercentEncoded(params[i]);
    }
    auto res = Post(body);
    if (!res) return "no answer";
    return res->status == 200 ? res->body : std::to_string(res->status) + " " + res->get_header_value("EXCEPTION_WHAT");
  }

  test::ScratchHome home_;
  test::ScratchDir folder_;
  test::ScratchDir allow_;  // the administrator's allow-list folder
  std::vector<int> ports_;
  TestHostServices services_;
  HeadlessWindow window_;
  std::unique_ptr<AgentHost> host_;
  std::unique_ptr<httplib::SSLClient> client_;
};

// The page writes a library through appendFile in data-URL chunks, then
// names it; and it names device files, a FIFO and files whose loader
// errors would tell that they exist. Each is refused alike, at once,
// without the file being opened: the FIFO would block an open, and
// inotify sees any open of the two files the test made.
TEST_F(HostilePage, InitializeRefusesUnlistedModulesAtOnceWithoutOpeningThem) {
  const std::string t = InitDll();
  const std::string library = test::ReadFileText(VORLINK_TEST_TRACE_LIBRARY);
  for (std::size_t at = 0; at < library.size(); at += 12000) {
    const std::string chunk = "data:application/octet-stream;base64," + Base64(library.substr(at, 12000));
    ASSERT_EQ(Call(t, "appendFile", {"libpage.so", chunk}), "||0||0||");
  }
  const fs::path written = home_.working() / "libpage.so", fifo = home_.working() / "fifo.so";
  ASSERT_EQ(test::ReadFileText(written), library);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  for (const fs::path& p : {written, fifo}) ASSERT_GE(::inotify_add_watch(watch, p.c_str(), IN_OPEN | IN_ACCESS), 0);

  for (const std::string& module :
       {written.string(), fifo.string(), std::string("libpage.so"), std::string("/dev/ptmx"),
        std::string("/etc/shadow"), std::string("/etc/passwd"), std::string("/nonexistent/x.so")}) {
    const auto begin = steady_clock::now();
    EXPECT_EQ(Call(t, "Initialize", {module}), kRefused) << module;
    // Generous: a test is no benchmark (bench/flood_bench measures it); an
    // open of the FIFO or /dev/ptmx would hang until the call deadline.
    EXPECT_LT(steady_clock::now() - begin, std::chrono::seconds(1)) << module;
    EXPECT_EQ(Call(t, "get_getErrorMsg"), kRefusedMessage) << module;
  }
  inotify_event events[4];
  EXPECT_LT(::read(watch, events, sizeof events), 0) << "a refused module was opened";
  ::close(watch);
  EXPECT_FALSE(fs::exists(trace())) << "the page's library ran";
  EXPECT_EQ(Call(t, "Initialize", {test::kSoftHsmModuleName}), "||0||0||") << "a registered module still loads";
}

// One page floods InitDLL from four connections; another page then takes
// the rest of the total. Each stops at its cap with the creation failure,
// and the other page's tokens keep working.
TEST_F(HostilePage, InitDllFloodsStopAtTheCapsWhileOtherPagesAreServed) {
  std::atomic<int> created{0}, refused{0};
  std::vector<std::thread> flood;
  for (int c = 0; c < 4; ++c) {
    flood.emplace_back([&] {
      httplib::SSLClient client("localhost", ports_[0]);
      client.enable_server_certificate_verification(false);
      for (int i = 0; i < 3; ++i) {
        auto res = client.Post("/ORVA", {{"Origin", kPage}}, "InitDLL=PKCS11", "text/plain");
        if (res && res->body.starts_with("||0||")) ++created;
        if (res && res->body == kCreationFailed) ++refused;
      }
    });
  }
  for (auto& thread : flood) thread.join();
  EXPECT_EQ(created, static_cast<int>(kLimits.per_origin));
  EXPECT_EQ(refused, 12 - static_cast<int>(kLimits.per_origin));

  const std::string other = InitDll(kOtherPage);
  ASSERT_NE(other, kCreationFailed);
  EXPECT_NE(InitDll(kOtherPage), kCreationFailed) << "the other page's second component";
  EXPECT_EQ(InitDll("https://third.example"), kCreationFailed) << "all origins together are at the total";
  EXPECT_EQ(test::LiveChildren().size(), kLimits.total);
  auto version = Post("DLLToken=" + other + "&ExecMethod=GetVersion", kOtherPage);
  ASSERT_TRUE(version);
  EXPECT_EQ(version->body, "||0||4.5.23.1||");
}

// A module that never answers (its "library" is a FIFO an administrator
// listed): the call ends at the deadline as a failed component call, the
// host is killed, the token keeps failing alike until the sweep releases
// it, and its seat is free at once.
TEST_F(HostilePage, AHungModuleIsKilledAtTheDeadlineAndItsTokenReleased) {
  if (::geteuid() != 0) GTEST_SKIP() << "the allow-list must belong to root";
  const fs::path fifo = allow_.path() / "hung.so";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(allow_.path() / "hung.list") << fifo.string() << "\n";
  const std::string t = InitDll();
  for (std::size_t i = 1; i < kLimits.per_origin; ++i) ASSERT_NE(InitDll(), kCreationFailed);
  ASSERT_EQ(InitDll(), kCreationFailed);
  const std::size_t hosts = test::LiveChildren().size();

  const auto begin = steady_clock::now();
  EXPECT_EQ(Call(t, "Initialize", {fifo.string()}), "500 UNKNOWN");
  EXPECT_GE(steady_clock::now() - begin, kLimits.call_deadline);
  EXPECT_EQ(Call(t, "Enumerate_slots"), "500 UNKNOWN") << "the token's later calls fail alike";
  EXPECT_EQ(test::LiveChildren().size(), hosts - 1) << "the hung host was killed";
  EXPECT_NE(InitDll(), kCreationFailed) << "a component whose host ended holds no seat";
  host_->OnTimer(kSweepTimerId);
  EXPECT_EQ(Call(t, "Enumerate_slots"), "||-1||沒有找到指定的 DllToken, 無法執行||") << "the sweep released it";
}

// While signBigFile signs, its folder is swapped for a link to a folder
// outside (when the wait window closes: after the digest, before the
// signature is written). The signature lands in the folder that was
// checked, and nothing outside changes.
TEST_F(HostilePage, AFolderSwappedForALinkDuringSignBigFileGetsNothingOutside) {
  const fs::path folder = home_.working() / "contracts", moved = home_.working() / "contracts.moved";
  fs::create_directories(folder);
  test::ScratchHome::Write(folder / "big.bin", std::string(3 << 20, 'x'));
  services_.on_end_wait = [&] {
    fs::rename(folder, moved);
    fs::create_directory_symlink(home_.outside(), folder);
  };
  const std::string t = InitDll();
  ASSERT_EQ(Call(t, "Initialize", {test::kSoftHsmModuleName}), "||0||0||");
  ASSERT_EQ(Call(t, "Select_slot", {test::kTokenLabel}), "||0||0||");
  ASSERT_EQ(Call(t, "Login", {test::kUserPin}), "||0||0||");
  EXPECT_EQ(Call(t, "signBigFile", {"contracts/big.bin"}), "||0||0||");
  EXPECT_EQ(services_.on_end_wait, nullptr) << "the folder was swapped during the call";
  std::vector<std::string> outside;
  for (const auto& entry : fs::directory_iterator(home_.outside())) outside.push_back(entry.path().filename());
  EXPECT_EQ(outside, std::vector<std::string>{"secret.txt"});
  EXPECT_TRUE(fs::is_regular_file(moved / "big.bin.p7s"));
}

}  // namespace
}  // namespace vorlink
