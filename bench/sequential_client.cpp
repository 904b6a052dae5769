// Sequential latency on one keep-alive HTTPS connection: CALLS requests one
// after the other, each posting BODY (text/plain), after a tenth as many to
// warm up. Prints "MEAN_MS P50_MS P99_MS" on one line. Exits non-zero when
// any request goes unanswered or the answer is not a 200 of the form
// ||code||value||.
//   sequential_client PORT CALLS BODY [ORIGIN]

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool Answered(const httplib::Result& r) {
  return r && r->status == 200 && r->body.size() >= 4 && r->body.starts_with("||") && r->body.ends_with("||");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s PORT CALLS BODY [ORIGIN]\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const long calls = std::atol(argv[2]);
  const std::string body = argv[3];
  httplib::Headers headers;
  if (argc == 5) headers.emplace("Origin", argv[4]);

  httplib::SSLClient client("127.0.0.1", port);
  client.enable_server_certificate_verification(false);  // loopback, the server's own certificate
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);  // as browsers do
  for (long i = 0; i < calls / 10; ++i) {
    if (!Answered(client.Post("/", headers, body, "text/plain"))) return 1;
  }
  std::vector<double> ms;
  ms.reserve(static_cast<std::size_t>(calls));
  for (long i = 0; i < calls; ++i) {
    const auto start = Clock::now();
    const auto r = client.Post("/", headers, body, "text/plain");
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (!Answered(r)) {
      std::fprintf(stderr, "call %ld: %s\n", i, r ? r->body.c_str() : httplib::to_string(r.error()).c_str());
      return 1;
    }
  }
  const double mean = std::accumulate(ms.begin(), ms.end(), 0.0) / static_cast<double>(ms.size());
  std::sort(ms.begin(), ms.end());
  auto percentile = [&ms](double p) {
    return ms[std::min(ms.size() - 1, static_cast<std::size_t>(p * static_cast<double>(ms.size())))];
  };
  std::printf("%.3f %.3f %.3f\n", mean, percentile(0.5), percentile(0.99));
}
