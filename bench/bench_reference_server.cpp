// A bare SSLServer: same identity (the user's, as the agent finds or makes
// it: tls/identity_store.h), TLS settings and six routes as the agent, answering a fixed text with no parsing and no
// logging. It keeps connections as the agent does (up to 1000 requests each, the agent's worker pool with a thread for
// every live connection, a full listen backlog): with the library's defaults (5 requests a connection, 8 threads, a
// backlog of 5) a keep-alive load of 16 connections paid a TLS handshake every fifth request and queued half of its
// connections, and the comparison measured that rather than the request path.
//   bench_reference_server PORT

#include <httplib.h>
#include <sys/socket.h>

#include <cstdio>
#include <ctime>

#include "host/server/connection_pool.h"
#include "tls/identity_store.h"
#include "tls/tls_credentials.h"

using namespace vorlink;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const auto ensured = EnsureUserIdentity(DefaultIdentityFolder(), std::time(nullptr));
  if (!ensured.identity) {
    std::fprintf(stderr, "no identity: %s\n", ensured.problem.c_str());
    return 1;
  }
  X509* cert = ensured.identity->certificate.get();
  EVP_PKEY* key = ensured.identity->key.get();
  // The listening socket is the library's protected member: a subclass
  // reaches it to listen again with a full backlog.
  struct Server : httplib::SSLServer {
    using httplib::SSLServer::SSLServer;
    void RaiseBacklog() { ::listen(svr_sock_, SOMAXCONN); }
  } server([&](SSL_CTX& ctx) { return ConfigureServerContext(ctx, cert, key); });
  server.set_tcp_nodelay(true);
  server.set_keep_alive_max_count(1000);
  server.new_task_queue = [] { return new ConnectionPool(); };
  auto answer = [](const httplib::Request&, httplib::Response& res) {
    res.set_content("||-1||fixed||", "text/html; charset=utf-8");
  };
  for (const char* path : {"/", "/ORVA"}) {
    server.Post(path, answer);
    server.Options(path, [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    server.Get(path, answer);
  }
  if (!server.bind_to_port("127.0.0.1", std::atoi(argv[1]))) return 1;
  server.RaiseBacklog();
  std::printf("READY\n");
  std::fflush(stdout);
  server.listen_after_bind();
}
