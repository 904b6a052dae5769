// New-connection load: every request opens a TCP connection, does a full
// TLS handshake (no session is kept for resumption), posts one body and
// reads the answer, then closes. CONNECTIONS threads do this for SECONDS.
// Prints "REQUESTS/S P50_MS P99_MS" on one line (latency: connect to
// answer read). Exits non-zero when any request goes unanswered or the
// answer is not a 200 of the form ||code||value||.
//   new_connection_client PORT SECONDS CONNECTIONS BODY [ORIGIN]

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(index, sorted.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: %s PORT SECONDS CONNECTIONS BODY [ORIGIN]\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const auto duration = std::chrono::duration<double>(std::atof(argv[2]));
  const int connections = std::atoi(argv[3]);
  const std::string body = argv[4];
  httplib::Headers headers;
  if (argc == 6) headers.emplace("Origin", argv[5]);

  std::atomic<long> failed{0};
  std::mutex mutex;
  std::vector<double> latencies_ms;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(duration);
  std::vector<std::thread> threads;
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([&] {
      // One client (one SSL_CTX) per thread; with keep-alive off each
      // request gets a new socket and a new SSL object, so a full handshake.
      httplib::SSLClient client("127.0.0.1", port);
      client.enable_server_certificate_verification(false);  // loopback, the server's own certificate
      client.set_keep_alive(false);
      client.set_tcp_nodelay(true);
      std::vector<double> mine;
      while (Clock::now() < end) {
        const auto sent = Clock::now();
        const auto r = client.Post("/", headers, body, "text/plain");
        mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        if (!r || r->status != 200 || !r->body.starts_with("||") || !r->body.ends_with("||")) ++failed;
      }
      std::lock_guard lock(mutex);
      latencies_ms.insert(latencies_ms.end(), mine.begin(), mine.end());
    });
  }
  for (auto& t : threads) t.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::sort(latencies_ms.begin(), latencies_ms.end());
  std::printf("%.2f %.3f %.3f\n", static_cast<double>(latencies_ms.size()) / seconds, Percentile(latencies_ms, 0.50),
              Percentile(latencies_ms, 0.99));
  if (failed > 0) std::fprintf(stderr, "%ld of %zu requests failed\n", failed.load(), latencies_ms.size());
  return failed == 0 ? 0 : 1;
}
