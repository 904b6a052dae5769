// Signatures per second on one SoftHSM2 token: a page's signature through
// the agent over HTTPS (PKCS7Sign then get_getSignature, keep-alive
// clients, one and four) against the token's own C_Sign loop in this
// process (one and four sessions), measured in turns in the same run.
//   sign_bench [SECONDS]
// The agent is bench_agent_server beside this program, with the bundled
// component and the signed manifest; the token is made by
// tools/make-softhsm-token.sh and reached by the agent through its default
// module (the p11-kit proxy) and SOFTHSM2_CONF.

#include <arpa/inet.h>
#include <dlfcn.h>
#include <httplib.h>
#include <netinet/in.h>
#include <p11-kit/pkcs11.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/process/executable_path.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kModule = "/usr/lib/softhsm/libsofthsm2.so";
constexpr const char* kLabel = "Vorlink Bench";
constexpr const char* kPin = "123456";
constexpr const char* kText = "I agree to pay 100 to Alice";

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

// Runs `work` on `threads` threads for `seconds`, after each thread's
// `setup`; returns completed works per second.
double PerSecond(int threads, double seconds, const std::function<std::function<void()>()>& setup) {
  std::vector<std::function<void()>> works;
  for (int i = 0; i < threads; ++i) works.push_back(setup());
  std::atomic<long> done{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> pool;
  const auto start = Clock::now();
  for (auto& work : works) {
    pool.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        work();
        done.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (auto& t : pool) t.join();
  return done / std::chrono::duration<double>(Clock::now() - start).count();
}

// The token's C_Sign in this process: one session per thread, the key found
// once per session, SHA-256 with RSA as the component uses it.
class InProcessSigner {
 public:
  InProcessSigner() {
    handle_ = ::dlopen(kModule, RTLD_NOW | RTLD_LOCAL);
    Check(handle_ != nullptr, "cannot load SoftHSM2");
    auto get_list = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(handle_, "C_GetFunctionList"));
    Check(get_list && get_list(&f_) == CKR_OK, "no function list");
    CK_C_INITIALIZE_ARGS init{};
    init.flags = CKF_OS_LOCKING_OK;
    Check(f_->C_Initialize(&init) == CKR_OK, "C_Initialize");
    slot_ = FindSlot();
    CK_SESSION_HANDLE login = OpenSession();
    Check(f_->C_Login(login, CKU_USER, (CK_UTF8CHAR_PTR)kPin, 6) == CKR_OK, "C_Login");
  }
  ~InProcessSigner() {
    f_->C_Finalize(nullptr);
    ::dlclose(handle_);
  }

  std::function<void()> NewWorker() {
    const CK_SESSION_HANDLE session = OpenSession();
    const CK_OBJECT_HANDLE key = PrivateKey(session);
    return [this, session, key] {
      CK_MECHANISM mechanism{CKM_SHA256_RSA_PKCS, nullptr, 0};
      unsigned char signature[512];
      CK_ULONG size = sizeof signature;
      Check(f_->C_SignInit(session, &mechanism, key) == CKR_OK, "C_SignInit");
      Check(f_->C_Sign(session, (CK_BYTE_PTR)kText, std::strlen(kText), signature, &size) == CKR_OK, "C_Sign");
    };
  }

 private:
  CK_SLOT_ID FindSlot() {
    CK_SLOT_ID slots[16];
    CK_ULONG count = 16;
    Check(f_->C_GetSlotList(CK_TRUE, slots, &count) == CKR_OK, "C_GetSlotList");
    for (CK_ULONG i = 0; i < count; ++i) {
      CK_TOKEN_INFO info;
      if (f_->C_GetTokenInfo(slots[i], &info) != CKR_OK) continue;
      const std::string label(reinterpret_cast<char*>(info.label), sizeof info.label);
      if (label.rfind(kLabel, 0) == 0) return slots[i];
    }
    throw std::runtime_error("the bench token is not there");
  }
  CK_SESSION_HANDLE OpenSession() {
    CK_SESSION_HANDLE session;
    Check(f_->C_OpenSession(slot_, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) == CKR_OK,
          "C_OpenSession");
    return session;
  }
  CK_OBJECT_HANDLE PrivateKey(CK_SESSION_HANDLE session) {
    CK_OBJECT_CLASS key_class = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE wanted{CKA_CLASS, &key_class, sizeof key_class};
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    CK_ULONG found = 0;
    Check(f_->C_FindObjectsInit(session, &wanted, 1) == CKR_OK, "C_FindObjectsInit");
    f_->C_FindObjects(session, &key, 1, &found);
    f_->C_FindObjectsFinal(session);
    Check(found == 1, "no private key on the token");
    return key;
  }

  void* handle_ = nullptr;
  CK_FUNCTION_LIST* f_ = nullptr;
  CK_SLOT_ID slot_ = 0;
};

// bench_agent_server as a child process on a free port; killed on
// destruction.
class AgentProcess {
 public:
  AgentProcess(const fs::path& program, int port, const fs::path& log_dir) : port_(port) {
    const fs::path out = log_dir / "agent.out";
    pid_ = ::fork();
    Check(pid_ >= 0, "fork");
    if (pid_ == 0) {
      std::freopen(out.c_str(), "w", stdout);
      const std::string port_text = std::to_string(port);
      ::execl(program.c_str(), program.c_str(), port_text.c_str(), log_dir.c_str(), nullptr);
      std::_Exit(127);
    }
    for (int i = 0; i < 200 && !Ready(out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Check(Ready(out), "the agent did not start");
  }
  ~AgentProcess() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  int port() const { return port_; }

 private:
  static bool Ready(const fs::path& out) {
    std::ifstream in(out);
    std::string line;
    return std::getline(in, line) && line == "READY";
  }
  pid_t pid_ = -1;
  int port_;
};

// One keep-alive HTTPS client of the agent, holding its own DllToken,
// logged in on the bench token.
class PageClient {
 public:
  explicit PageClient(int port) : client_("127.0.0.1", port) {
    client_.enable_server_certificate_verification(false);  // loopback, the agent's own certificate
    client_.set_keep_alive(true);
    client_.set_read_timeout(60);
    client_.set_tcp_nodelay(true);  // as browsers do; else each request waits for a delayed ACK
    token_ = Answer("InitDLL=PKCS11");
    Expect("Initialize", "Initialize", {""});
    Expect("Select_slot", "Select_slot", {kLabel});
    Expect("Login", "Login", {kPin});
  }

  // What a page does for one signature: sign, then read the signature.
  void SignOnce() {
    Expect("PKCS7Sign", "PKCS7Sign", {kText, "1", "0"});
    Check(Call("get_getSignature", {}).size() > 100, "no signature");
  }

 private:
  std::string Answer(const std::string& body) {
    auto result = client_.Post("/", body, "application/x-www-form-urlencoded");
    Check(result && result->status == 200, "the agent did not answer " + body);
    const std::string& text = result->body;
    Check(text.rfind("||0||", 0) == 0 && text.size() >= 7, "refused: " + text);
    return text.substr(5, text.size() - 7);
  }
  std::string Call(const std::string& method, const std::vector<std::string>& params) {
    std::string body = "DLLToken=" + token_ + "&ExecMethod=" + method;
    for (size_t i = 0; i < params.size(); ++i) {
      body += "&Param" + std::to_string(i + 1) + "=" + httplib::detail::encode_query_param(params[i]);
    }
    return Answer(body);
  }
  void Expect(const char* what, const std::string& method, const std::vector<std::string>& params) {
    const std::string result = Call(method, params);
    Check(result == "0", std::string(what) + " answered " + result + ": " + Call("get_getErrorMsg", {}));
  }

  httplib::SSLClient client_;
  std::string token_;
};

// A port nothing listens on right now; the probe socket is closed before
// the agent binds it.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  ::close(fd);
  Check(ok, "no free port");
  return ntohs(address.sin_port);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5;
  if (::access(kModule, R_OK) != 0) {
    std::fprintf(stderr, "SoftHSM2 is not installed\n");
    return 1;
  }
  const fs::path work = fs::temp_directory_path() / ("sign_bench." + std::to_string(::getpid()));
  fs::create_directories(work / "logs");
  const std::string make = "'" VORLINK_SOURCE_DIR "/tools/make-softhsm-token.sh' '" + (work / "token").string() +
                           "' '" + kLabel + "' " + kPin + " 12345678 'Vorlink Bench User'";
  int status = std::system(make.c_str());
  ::setenv("SOFTHSM2_CONF", (work / "token/softhsm2.conf").c_str(), 1);
  try {
    Check(status == 0, "cannot make the token");
    // The agent starts first, so that it inherits no SoftHSM2 state.
    AgentProcess agent(vorlink::platform::ExecutablePath().parent_path() / "bench_agent_server", FreePort(),
                       work / "logs");
    InProcessSigner signer;
    for (int n : {1, 4}) {
      const double reference = PerSecond(n, seconds, [&] { return signer.NewWorker(); });
      const double through = PerSecond(n, seconds, [&] {
        auto client = std::make_shared<PageClient>(agent.port());
        return [client] { client->SignOnce(); };
      });
      std::printf("in-process C_Sign, %d session%s : %8.1f signatures/s\n", n, n > 1 ? "s" : " ", reference);
      std::printf("agent over HTTPS, %d client%s   : %8.1f signatures/s  ratio %.2f\n", n, n > 1 ? "s" : " ", through,
                  through / reference);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sign_bench: %s\n", e.what());
    status = 1;
  }
  fs::remove_all(work);
  return status == 0 ? 0 : 1;
}
