// Soak test: the agent's host with a stand-in frame window and the test
// component, under mixed traffic from many keep-alive HTTPS connections for
// a while. The driver's main thread plays the UI thread: it runs the
// timeout sweep every second (components' clocks run fast, so tokens left
// idle for half a second time out while calls arrive) and locks and
// unlocks the session halfway through. At the end it checks that every
// request was answered (except those refused while locked), that every
// answer had the expected form, and that every log entry is whole.
//   soak_driver [SECONDS] [CONNECTIONS]

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <regex>
#include <thread>

#include "host/agent_host.h"
#include "manifest_signer.h"
#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"
#include "soak_log_check.h"
#include "support/free_ports.h"
#include "support/test_paths.h"

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Component time runs this much faster than real time: the 600-minute idle
// timeout passes in half a second.
constexpr std::uint64_t kTickSpeedUp = 72000;

std::uint32_t FastTicks() { return static_cast<std::uint32_t>(vorlink::SteadyTickMs() * kTickSpeedUp); }

struct QuietWindow final : vorlink::FrameWindow {
  bool RegisterSessionNotifications() override { return true; }
  bool CreateLogDialog() override { return true; }
  bool CreateTrayIcon(const std::string&) override { return true; }
  void StartSweepTimer(int) override {}
};

// The agent's folder: the test component, its registration, a signed manifest.
void LayOutAgentFolder(const fs::path& folder) {
  fs::copy_file(VORLINK_TEST_COMPONENT, folder / "libtestcomponent.so");
  fs::create_directories(folder / "components");
  std::ofstream(folder / "components/ORVAPkcs11Crypto.ORVA_P11Crypto.component")
      << "CLSID={3f2a1b4c-5d6e-4f70-8192-a3b4c5d6e7f8}\nLibrary=../libtestcomponent.so\n";
  const std::string key = vorlink::test::ReadFileText(vorlink::test::SourcePath("tools/dev-keys/manifest-dev.key.pem"));
  const auto cert = vorlink::platform::EmbeddedResourceSource()
                        .Load(vorlink::platform::kLocalhostResourceType, vorlink::platform::kIdrLocalCert)
                        .bytes;
  const std::string text = vorlink::manifest::ManifestText({key, cert, folder, {"libtestcomponent.so"}});
  std::ofstream(folder / "Vorlink.ini") << vorlink::manifest::SignManifestText(text, key);
}

// What the clients saw, summed over all of them.
struct Tally {
  std::atomic<long> sent{0}, answered{0}, refused_while_locked{0}, lost{0}, malformed{0};
  std::atomic<long> init_dll{0}, token_gone{0}, status_500{0}, preflights{0};
  std::mutex mutex;
  std::vector<double> latencies_ms;
  std::vector<std::string> problems;  // the first few, for the report
  void Problem(const std::string& text) {
    std::lock_guard lock(mutex);
    if (problems.size() < 10) problems.push_back(text);
  }
};

// The lock window as the UI thread saw it, in milliseconds from the start.
struct LockWindow {
  std::atomic<double> begin{1e18}, end{1e18};
  bool Covers(double from, double to) const { return to >= begin && from <= end + 50; }
};

const std::regex kAnswer(R"(\|\|-?[0-9]+\|\|[^|]*\|\|)");

class Client {
 public:
  Client(int port, int id, Tally& tally, const LockWindow& lock, Clock::time_point start)
      : http_("127.0.0.1", port), id_(id), random_(id), tally_(tally), lock_(lock), start_(start) {
    http_.enable_server_certificate_verification(false);
    http_.set_keep_alive(true);
    http_.set_tcp_nodelay(true);  // a POST's body otherwise waits for the ACK of its headers
    http_.set_read_timeout(std::chrono::seconds(30));
  }

  void Run(const std::atomic<bool>& stop) {
    while (!stop) {
      Once();
      // A quarter of the clients pause long enough for their tokens to time out.
      if (id_ % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(random_() % 1500));
    }
  }

 private:
  double Now() const { return std::chrono::duration<double, std::milli>(Clock::now() - start_).count(); }

  void Once() {
    const unsigned pick = random_() % 100;
    if (token_.empty() || pick < 3) return Call("InitDLL=PKCS11", Kind::kInit);
    if (pick < 40) return Call("DLLToken=" + token_ + "&ExecMethod=GetVersion", Kind::kVersion);
    if (pick < 70) return Call("DLLToken=" + token_ + "&ExecMethod=Login&Param1=1234", Kind::kForwarded);
    if (pick < 75) return Call("ExecMethod=GetVersion", Kind::kNoToken);
    if (pick < 80) return Call("DLLToken=" + token_ + "&ExecMethod=Login&Param1=%FF", Kind::kBadUtf8);
    if (pick < 85) return Call("", Kind::kEmpty);
    if (pick < 90) return Call("DLLToken=abc&ExecMethod=GetVersion", Kind::kBadToken);
    return Call("", Kind::kPreflight);
  }

  enum class Kind { kInit, kVersion, kForwarded, kNoToken, kBadUtf8, kEmpty, kBadToken, kPreflight };

  httplib::Result Send(const std::string& body, Kind kind) {
    if (kind == Kind::kPreflight) {
      return http_.Options("/ORVA", {{"Origin", "https://example.org"}, {"Access-Control-Request-Method", "POST"}});
    }
    if (kind == Kind::kEmpty) return http_.Get("/");
    return http_.Post("/ORVA", body, "text/plain");
  }

  void Call(const std::string& body, Kind kind) {
    ++tally_.sent;
    const double from = Now();
    const auto result = Send(body, kind);
    const double to = Now();
    if (!result) {
      if (lock_.Covers(from, to)) {
        ++tally_.refused_while_locked;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // as a page would, not in a tight loop
      } else {
        ++tally_.lost;
        tally_.Problem("no answer (" + httplib::to_string(result.error()) + ") at " + std::to_string(to) + " ms");
      }
      return;
    }
    ++tally_.answered;
    {
      std::lock_guard lock(tally_.mutex);
      tally_.latencies_ms.push_back(to - from);
    }
    if (!Check(*result, kind)) {
      ++tally_.malformed;
      tally_.Problem("unexpected answer " + std::to_string(result->status) + " '" + result->body + "' to '" + body +
                     "'");
    }
  }

  bool TokenGone(const std::string& answer) {
    if (answer != "||-1||沒有找到指定的 DllToken, 無法執行||" &&
        answer != "||-1||指定的 DllToken 已經逾時, 無法執行||") {
      return false;
    }
    ++tally_.token_gone;
    token_.clear();
    return true;
  }

  bool Check(const httplib::Response& r, Kind kind) {
    switch (kind) {
      case Kind::kInit:
        if (r.status != 200 || !r.body.starts_with("||0||") || !std::regex_match(r.body, kAnswer)) return false;
        token_ = r.body.substr(5, r.body.size() - 7);
        ++tally_.init_dll;
        return true;
      case Kind::kVersion: return r.status == 200 && (r.body == "||0||4.5.23.1||" || TokenGone(r.body));
      case Kind::kForwarded: return r.status == 200 && (r.body == "||0||0||" || TokenGone(r.body));
      case Kind::kNoToken: return r.status == 200 && r.body == "||-1||CGI內容錯誤||";
      case Kind::kBadUtf8:
        ++tally_.status_500;
        return r.status == 500 && r.get_header_value("EXCEPTION_WHAT") == "bad conversion";
      case Kind::kEmpty: return r.status == 200 && r.body.empty();
      case Kind::kBadToken: return r.status == 200 && r.body == "||-1||沒有指定 DllToken, 無法執行||";
      case Kind::kPreflight:
        ++tally_.preflights;
        return r.status == 204 && r.body.empty() &&
               r.get_header_value("Access-Control-Allow-Origin") == "https://example.org";
    }
    return false;
  }

  httplib::SSLClient http_;
  int id_;
  std::minstd_rand random_;
  std::string token_;
  Tally& tally_;
  const LockWindow& lock_;
  Clock::time_point start_;
};

double Percentile(std::vector<double>& v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int connections = argc > 2 ? std::atoi(argv[2]) : 64;
  vorlink::test::ScratchDir folder;
  LayOutAgentFolder(folder.path());
  const int port = vorlink::test::FreePorts(1)[0];

  vorlink::AgentHostOptions options;
  options.files.executable = folder.path() / "vorlink45";
  options.files.log_directory = (folder.path() / "logs").string();
  options.ports = {port};
  options.install_browser_trust = false;
  options.files.component_folders = {folder.path() / "components"};
  options.timing.component_ticks = FastTicks;
  QuietWindow window;  // outlives the host, which calls it until shut down
  auto host = std::make_unique<vorlink::AgentHost>(options);
  if (!host->CreateWindowSequence(window)) {
    std::fprintf(stderr, "the host did not start\n");
    return 1;
  }

  Tally tally;
  LockWindow lock;
  std::atomic<bool> stop{false};
  const auto start = Clock::now();
  std::vector<std::thread> clients;
  for (int id = 0; id < connections; ++id) {
    clients.emplace_back([&, id] { Client(port, id, tally, lock, start).Run(stop); });
  }
  const auto since_start = [&] { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); };
  const int lock_at = seconds / 2, unlock_at = lock_at + 3;
  for (int tick = 1; tick <= seconds; ++tick) {
    std::this_thread::sleep_until(start + std::chrono::seconds(tick));
    host->OnTimer(vorlink::kSweepTimerId);
    if (tick == lock_at) {
      lock.begin = since_start();
      host->OnSessionChange(7);
    } else if (tick == unlock_at) {
      host->OnSessionChange(8);
      lock.end = since_start();
    }
  }
  stop = true;
  for (auto& c : clients) c.join();
  const auto shutdown_begin = Clock::now();
  host.reset();
  const double shutdown_ms = std::chrono::duration<double, std::milli>(Clock::now() - shutdown_begin).count();

  const vorlink::bench::LogCheck log = vorlink::bench::CheckLogFolder(folder.path() / "logs");
  std::printf(
      "%d s, %d connections: sent %ld, answered %ld (%.0f/s), refused while locked %ld, lost %ld, "
      "malformed %ld\n",
      seconds, connections, tally.sent.load(), tally.answered.load(), static_cast<double>(tally.answered) / seconds,
      tally.refused_while_locked.load(), tally.lost.load(), tally.malformed.load());
  std::printf(
      "InitDLL %ld, token gone (swept) %ld, status 500 %ld, preflights %ld; latency p50 %.2f ms, "
      "p99 %.2f ms, max %.2f ms\n",
      tally.init_dll.load(), tally.token_gone.load(), tally.status_500.load(), tally.preflights.load(),
      Percentile(tally.latencies_ms, 0.5), Percentile(tally.latencies_ms, 0.99), Percentile(tally.latencies_ms, 1.0));
  std::printf("lock %.0f..%.0f ms; shutdown %.0f ms\n", lock.begin.load(), lock.end.load(), shutdown_ms);
  std::printf(
      "log: %zu files, %zu entries, %zu request traces, %zu response traces, %zu timed out, "
      "%zu broken entries\n",
      log.files, log.entries, log.request_traces, log.response_traces, log.timeouts, log.broken);
  for (const auto& p : tally.problems) std::printf("  %s\n", p.c_str());
  for (const auto& p : log.problems) std::printf("  %s\n", p.c_str());
  // A request trace without its response trace: an answer of status 500, or
  // a request cut off by the lock.
  const auto unanswered_traces = static_cast<long>(log.request_traces) - static_cast<long>(log.response_traces);
  const bool traces_match =
      unanswered_traces >= tally.status_500 && unanswered_traces <= tally.status_500 + tally.refused_while_locked;
  const bool ok = tally.lost == 0 && tally.malformed == 0 && log.broken == 0 && traces_match;
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
