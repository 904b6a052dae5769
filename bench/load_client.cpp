// Sends a fixed number of requests over keep-alive HTTPS connections and
// counts the answers: a POST call on a token nobody holds, a GET with the
// fields in the query, and a preflight, in turn. Exits non-zero when any
// request goes unanswered or is answered with an unexpected status.
//   load_client PORT REQUESTS [CONNECTIONS]

#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

bool Send(httplib::SSLClient& client, long n) {
  switch (n % 3) {
    case 0: {
      const auto r = client.Post("/", "DLLToken=1&ExecMethod=GetVersion", "text/plain");
      return r && r->status == 200 && r->body.starts_with("||-1||");
    }
    case 1: {
      const auto r = client.Get("/ORVA?DLLToken=2&ExecMethod=GetVersion&Param1=x");
      return r && r->status == 200 && r->body.starts_with("||-1||");
    }
    default: {
      const httplib::Headers headers = {{"Origin", "https://example.org"}, {"Access-Control-Request-Method", "POST"}};
      const auto r = client.Options("/", headers);
      return r && r->status == 204;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PORT REQUESTS [CONNECTIONS]\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const long requests = std::atol(argv[2]);
  const int connections = argc > 3 ? std::atoi(argv[3]) : 8;
  std::atomic<long> next{0}, failed{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([&] {
      httplib::SSLClient client("127.0.0.1", port);
      client.enable_server_certificate_verification(false);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      for (long n; (n = next++) < requests;) {
        if (!Send(client, n)) ++failed;
      }
    });
  }
  for (auto& t : threads) t.join();
  std::printf("requests %ld, failed %ld\n", requests, failed.load());
  return failed == 0 ? 0 : 1;
}
