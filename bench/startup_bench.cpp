// Start-up and shutdown of the agent program against references in the
// same run: from spawning the process to its first answered HTTPS request
// ("/" with no fields), and from SIGTERM to the process's exit. Medians
// of RUNS runs. The agent runs in a scratch home (its own log, runtime and
// config folders) and is found on whichever agent port it took through
// the port line in its log.
//   startup_bench AGENT REFERENCE_SERVER [RUNS] [AGENT_ARG...]

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<char*> args, vars;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const auto& e : env) vars.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  vars.push_back(nullptr);
  posix_spawn_file_actions_t quiet;  // the programs' own output is not wanted here
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, args[0], &quiet, nullptr, args.data(), vars.data());
  posix_spawn_file_actions_destroy(&quiet);
  return failed ? -1 : pid;
}

bool Exited(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == pid;
}

// The agent's environment: the caller's, with a scratch home.
std::vector<std::string> AgentEnvironment(const fs::path& scratch) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string var = *e;
    if (!var.starts_with("HOME=") && !var.starts_with("XDG_")) env.push_back(var);
  }
  env.push_back("HOME=" + (scratch / "home").string());
  env.push_back("XDG_RUNTIME_DIR=" + (scratch / "run").string());
  env.push_back("XDG_STATE_HOME=" + (scratch / "state").string());
  env.push_back("XDG_CONFIG_HOME=" + (scratch / "config").string());
  env.push_back("QT_QPA_PLATFORM=offscreen");
  return env;
}

// The port from the agent's "https 服務已經啟動, port = (int)N" line, once written.
std::optional<int> LoggedPort(const fs::path& log_dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(log_dir, ec)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const std::string mark = "https 服務已經啟動, port = (int)";
    const auto at = text.find(mark);
    if (at != std::string::npos) return std::atoi(text.c_str() + at + mark.size());
  }
  return std::nullopt;
}

// A bare TCP connect: cheap enough to poll with, unlike a TLS client, whose
// set-up would compete with the program being started for the processor.
bool Listening(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

bool Answered(int port) {
  if (!Listening(port)) return false;
  httplib::SSLClient client("127.0.0.1", port);
  client.enable_server_certificate_verification(false);
  client.set_connection_timeout(std::chrono::milliseconds(200));
  const auto result = client.Get("/");
  return result && result->status == 200;
}

struct Run {
  double start_ms = -1;  // spawn to first answer
  double stop_ms = -1;   // SIGTERM to exit
};

// Polls every half millisecond until the program answers (or 10 s pass),
// then stops it.
template <typename FindPort>
Run Measure(const std::vector<std::string>& argv, const std::vector<std::string>& env, FindPort find_port) {
  Run run;
  const auto begin = Clock::now();
  const pid_t pid = Spawn(argv, env);
  if (pid < 0) return run;
  while (Clock::now() - begin < std::chrono::seconds(10) && !Exited(pid)) {
    if (const auto port = find_port(); port && Answered(*port)) {
      run.start_ms = Ms(Clock::now() - begin);
      break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  const auto stop = Clock::now();
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.stop_ms = Ms(Clock::now() - stop);
  return run;
}

// A port the kernel hands out as free, closed again at once.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  ::close(fd);
  return ntohs(addr.sin_port);
}

double TrueMs() {
  const auto begin = Clock::now();
  const pid_t pid = Spawn({"/bin/true"}, {});
  int status = 0;
  ::waitpid(pid, &status, 0);
  return Ms(Clock::now() - begin);
}

void Report(const char* name, const std::vector<Run>& runs, double reference_start) {
  std::vector<double> start, stop;
  int failed = 0;
  for (const auto& r : runs) {
    if (r.start_ms < 0)
      ++failed;
    else
      start.push_back(r.start_ms);
    stop.push_back(r.stop_ms);
  }
  std::printf(
      "%-10s start->answer median %8.2f ms (min %.2f, max %.2f), ratio to reference %.2f;"
      " SIGTERM->exit median %8.2f ms; %d runs unanswered\n",
      name, Median(start), start.empty() ? 0 : *std::min_element(start.begin(), start.end()),
      start.empty() ? 0 : *std::max_element(start.begin(), start.end()), Median(start) / reference_start, Median(stop),
      failed);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s AGENT REFERENCE_SERVER [RUNS] [AGENT_ARG...]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 3 ? std::atoi(argv[3]) : 20;
  std::vector<std::string> agent_argv = {argv[1]};
  for (int i = 4; i < argc; ++i) agent_argv.push_back(argv[i]);

  std::vector<double> true_ms;
  std::vector<Run> reference, agent;
  for (int i = 0; i < runs; ++i) {
    true_ms.push_back(TrueMs());
    const int port = FreePort();
    reference.push_back(Measure({argv[2], std::to_string(port)}, {}, [port] { return std::optional<int>(port); }));
    const fs::path scratch = fs::temp_directory_path() / ("startup_bench." + std::to_string(::getpid()));
    for (const char* sub : {"home", "run", "state", "config"}) fs::create_directories(scratch / sub);
    const fs::path logs = scratch / "state/Vorlink";
    agent.push_back(Measure(agent_argv, AgentEnvironment(scratch), [&logs] { return LoggedPort(logs); }));
    fs::remove_all(scratch);
  }
  const double reference_start = Median([&] {
    std::vector<double> v;
    for (const auto& r : reference) v.push_back(r.start_ms);
    return v;
  }());
  std::printf("runs: %d\n/bin/true  spawn->exit median %8.2f ms\n", runs, Median(true_ms));
  Report("reference", reference, reference_start);
  Report("agent", agent, reference_start);
  std::printf("agent start->answer / (/bin/true) ratio %.1f\n", Median([&] {
                                                                  std::vector<double> v;
                                                                  for (const auto& r : agent) v.push_back(r.start_ms);
                                                                  return v;
                                                                }()) /
                                                                    Median(true_ms));
  return 0;
}
