// An InitDLL flood from one page origin against the real agent with the
// bundled component out of process, and what another origin's page sees
// meanwhile, against the same agent idle in the same run.
//   flood_bench [SECONDS]   (default 10)
// Starts bench_agent_server (beside this program) on a free port. Reports
// the flood's answers, the host processes it left, the agent's and the
// hosts' proportional memory (PSS), the other origin's GetVersion latency
// during the flood against idle, and how fast Initialize refuses an
// unlisted module.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process/executable_path.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kFlooder = "https://flood.example";
constexpr const char* kShop = "https://shop.example";

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "flood_bench: %s\n", what.c_str());
  std::exit(1);
}

// A port nothing listens on right now; the probe is closed before the
// agent binds it.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  ::close(fd);
  if (!ok) Die("no free port");
  return ntohs(address.sin_port);
}

// bench_agent_server as a child; killed on destruction.
class Agent {
 public:
  Agent(const fs::path& work, int port) : port_(port) {
    const fs::path out = work / "agent.out";
    pid_ = ::fork();
    if (pid_ < 0) Die("fork");
    if (pid_ == 0) {
      std::freopen(out.c_str(), "w", stdout);
      const std::string program = (vorlink::platform::ExecutableFolder() / "bench_agent_server").string();
      const std::string port_text = std::to_string(port), logs = (work / "logs").string();
      ::execl(program.c_str(), program.c_str(), port_text.c_str(), logs.c_str(), nullptr);
      std::_Exit(127);
    }
    for (int i = 0; i < 200; ++i) {
      std::ifstream in(out);
      std::string line;
      if (std::getline(in, line) && line == "READY") return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Die("the agent did not start");
  }
  ~Agent() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }
  int port() const { return port_; }

 private:
  pid_t pid_;
  int port_;
};

// A keep-alive client of one page origin.
class Page {
 public:
  Page(int port, std::string origin) : client_("127.0.0.1", port), origin_(std::move(origin)) {
    client_.enable_server_certificate_verification(false);  // loopback, the agent's own certificate
    client_.set_keep_alive(true);
    client_.set_tcp_nodelay(true);
    client_.set_read_timeout(std::chrono::seconds(200));
  }
  // The answer; a request on a keep-alive connection the agent has just
  // closed is sent once more on a new one.
  std::string Post(const std::string& body) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      auto res = client_.Post("/", {{"Origin", origin_}}, body, "application/x-www-form-urlencoded");
      if (res) return res->body;
    }
    return {};
  }
  // The token's number, or empty when InitDLL failed.
  std::string InitDll() {
    const std::string answer = Post("InitDLL=PKCS11");
    return answer.starts_with("||0||") ? answer.substr(5, answer.size() - 7) : std::string();
  }

 private:
  httplib::SSLClient client_;
  std::string origin_;
};

struct Latency {
  double p50_ms, p99_ms;
};

// Milliseconds of `n` requests one after the other.
Latency Measure(Page& page, const std::string& body, const std::string& expected, int n) {
  std::vector<double> ms;
  for (int i = 0; i < n; ++i) {
    const auto begin = Clock::now();
    if (const std::string answer = page.Post(body); answer != expected) Die(body + " answered \"" + answer + "\"");
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms[ms.size() * 99 / 100]};
}

std::vector<pid_t> Children(pid_t parent) {
  std::vector<pid_t> children;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    const auto close = line.rfind(')');
    char state = 0;
    long ppid = 0;
    if (close != std::string::npos && std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 &&
        ppid == parent && state != 'Z') {
      children.push_back(static_cast<pid_t>(std::atol(line.c_str())));
    }
  }
  return children;
}

double PssMiB(pid_t pid) {
  std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
  for (std::string line; std::getline(rollup, line);) {
    if (line.starts_with("Pss:")) return std::atof(line.c_str() + 4) / 1024;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  ::signal(SIGPIPE, SIG_IGN);  // a connection the agent closed shows as a failed request
  const fs::path work = fs::temp_directory_path() / ("flood_bench." + std::to_string(::getpid()));
  fs::create_directories(work / "logs");
  {
    Agent agent(work, FreePort());
    Page shop(agent.port(), kShop);
    const std::string token = shop.InitDll();
    if (token.empty()) Die("the shop page got no component");
    const std::string version = "DLLToken=" + token + "&ExecMethod=GetVersion";
    const std::string refuse = "DLLToken=" + token + "&ExecMethod=Initialize&Param1=%2Fdev%2Fptmx";
    Measure(shop, version, "||0||4.5.23.1||", 200);  // warm-up
    const Latency idle = Measure(shop, version, "||0||4.5.23.1||", 2000);
    const Latency refused = Measure(shop, refuse, "||0||20495||", 500);
    const double idle_pss = PssMiB(agent.pid());

    std::atomic<bool> flooding{true};
    std::atomic<int> answered{0}, created{0};
    std::vector<std::thread> flood;
    for (int c = 0; c < 4; ++c) {
      flood.emplace_back([&] {
        Page page(agent.port(), kFlooder);
        while (flooding) {
          const std::string t = page.InitDll();
          ++answered;
          if (t.empty()) continue;
          ++created;
          page.Post("DLLToken=" + t + "&ExecMethod=Initialize&Param1=");  // loads the proxy, as a page would
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const auto hosts = Children(agent.pid());
    double hosts_pss = 0;
    for (pid_t host : hosts) hosts_pss += PssMiB(host);
    const double agent_pss = PssMiB(agent.pid());
    const Latency during = Measure(shop, version, "||0||4.5.23.1||", 2000);
    flooding = false;
    for (auto& thread : flood) thread.join();

    std::printf("idle agent: GetVersion p50 %.2f ms, p99 %.2f ms; agent PSS %.1f MiB\n", idle.p50_ms, idle.p99_ms,
                idle_pss);
    std::printf("Initialize(\"/dev/ptmx\") refused: p50 %.2f ms, p99 %.2f ms (GetVersion p50 x %.2f)\n", refused.p50_ms,
                refused.p99_ms, refused.p50_ms / idle.p50_ms);
    std::printf("flood, %d s from one origin over 4 connections: %d InitDLL answered, %d components created\n", seconds,
                answered.load(), created.load());
    std::printf("host processes: %zu; PSS agent %.1f MiB, hosts %.1f MiB, total %.1f MiB\n", hosts.size(), agent_pss,
                hosts_pss, agent_pss + hosts_pss);
    std::printf("another origin during the flood: GetVersion p50 %.2f ms, p99 %.2f ms (p99 x %.2f of idle)\n",
                during.p50_ms, during.p99_ms, during.p99_ms / idle.p99_ms);
  }
  fs::remove_all(work);
}
