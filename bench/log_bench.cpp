// Diagnostic log throughput: entries per second from one and from four
// threads, and the cost of one request's log work (both traces and the
// dispatch line, into the file and the viewer's line store, as the agent
// does) against the same request path with logging off.

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "log/diagnostic_log.h"
#include "log/log_line_store.h"
#include "request/log_trace_recorder.h"

using namespace vorlink;
namespace fs = std::filesystem;

namespace {

template <typename F>
double Seconds(F&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double EntriesPerSecond(DiagnosticLog& log, int threads, int per_thread) {
  const double s = Seconds([&] {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&] {
        for (int i = 0; i < per_thread; ++i) log.LogDebug("執行 Function", "PKCS7Sign");
      });
    }
    for (auto& w : workers) w.join();
  });
  return threads * per_thread / s;
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / "vorlink-log-bench";
  fs::remove_all(dir);
  DiagnosticLog log;
  log.PrepareLogDirectory(dir.string());
  log.ScanLogIndex();
  std::printf("entries/s, 1 thread : %.0f\n", EntriesPerSecond(log, 1, 20000));
  std::printf("entries/s, 4 threads: %.0f\n", EntriesPerSecond(log, 4, 5000));

  httplib::Request request;
  request.method = "POST";
  request.path = "/ORVA";
  request.headers = {{"Content-Type", "text/plain"}, {"Origin", "https://bank.example"}, {"Host", "localhost:48200"}};
  request.body = "DLLToken=123456&ExecMethod=PKCS7Sign&Param1=" + std::string(200, 'x') + "&Param2=1&Param3=0";
  httplib::Response response;
  response.set_header("Access-Control-Allow-Origin", "https://bank.example");
  response.body = "||0||0||";
  LogLineStore viewer;
  log.SetViewer(&viewer);
  LogTraceRecorder traces(log, &viewer);
  NullTraceRecorder no_traces;
  constexpr int kRequests = 5000;
  auto run = [&](TraceRecorder& recorder, bool dispatch_line) {
    return Seconds([&] {
      for (int i = 0; i < kRequests; ++i) {
        recorder.RecordRequest(request);
        if (dispatch_line) log.LogDebug("執行 Function", "PKCS7Sign");
        recorder.RecordResponse(response);
      }
    });
  };
  const double off = run(no_traces, false);
  const double on = run(traces, true);
  std::printf("request log work: %.1f us with logging, %.3f us without (per request); logging costs %.1f us\n",
              on / kRequests * 1e6, off / kRequests * 1e6, (on - off) / kRequests * 1e6);
  fs::remove_all(dir);
}
