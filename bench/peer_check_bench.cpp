// The same-user check's cost against a TLS handshake, in one run: for each
// of COUNT new loopback connections (a client thread connects, the server
// accepts), the owner lookup the listener makes before the handshake
// (kernel query; and the /proc table for comparison), then the full TLS 1.3
// handshake with the agent's settings and a fresh user identity, timed on
// the server from accept to handshake done. Prints medians and p90 and the
// lookup's share of a handshake.
//   peer_check_bench [COUNT]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/net/socket_owner.h"
#include "tls/tls_credentials.h"
#include "tls/user_identity.h"

using namespace vorlink;
using Clock = std::chrono::steady_clock;

namespace {

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Summary {
  double median, p90;
};
Summary Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[v.size() * 9 / 10]};
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
  const auto identity = MakeUserIdentity(std::time(nullptr));
  SSL_CTX* server_ctx = SSL_CTX_new(TLS_server_method());
  if (!identity || !ConfigureServerContext(*server_ctx, identity->certificate.get(), identity->key.get())) return 1;
  SSL_CTX_set_session_cache_mode(server_ctx, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_num_tickets(server_ctx, 0);
  SSL_CTX* client_ctx = SSL_CTX_new(TLS_client_method());
  X509_STORE_add_cert(SSL_CTX_get_cert_store(client_ctx), identity->ca.get());
  SSL_CTX_set_verify(client_ctx, SSL_VERIFY_PEER, nullptr);

  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener, 64) != 0) return 1;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

  std::thread client([&] {
    for (int i = 0; i < count; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
      SSL* ssl = SSL_new(client_ctx);
      SSL_set_fd(ssl, fd);
      SSL_set1_host(ssl, "localhost");
      if (SSL_connect(ssl) != 1) std::abort();
      char byte;
      SSL_read(ssl, &byte, 1);  // until the server closes
      SSL_free(ssl);
      ::close(fd);
    }
  });

  std::vector<double> kernel, table, handshake;
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    const auto accepted = Clock::now();
    const auto owner = platform::PeerSocketOwner(fd, platform::OwnerLookup::kKernelQuery);
    const auto looked_up = Clock::now();
    if (!owner || *owner != ::geteuid()) ++failures;
    kernel.push_back(Micros(looked_up - accepted));
    if (i % 10 == 0) {  // the table is slow: a sample is enough
      const auto before = Clock::now();
      platform::PeerSocketOwner(fd, platform::OwnerLookup::kSocketTable);
      table.push_back(Micros(Clock::now() - before));
    }
    const auto start = Clock::now();
    SSL* ssl = SSL_new(server_ctx);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) != 1) ++failures;
    handshake.push_back(Micros(Clock::now() - start));
    SSL_shutdown(ssl);
    SSL_free(ssl);
    ::close(fd);
  }
  client.join();
  const auto k = Summarise(kernel), t = Summarise(table), h = Summarise(handshake);
  std::printf("connections %d, failures %d\n", count, failures);
  std::printf("TLS 1.3 handshake (server, P-256)  median %8.1f us  p90 %8.1f us\n", h.median, h.p90);
  std::printf("owner lookup, kernel query         median %8.1f us  p90 %8.1f us  = %.2f%% of a handshake\n", k.median,
              k.p90, 100 * k.median / h.median);
  std::printf("owner lookup, /proc/net/tcp        median %8.1f us  p90 %8.1f us  = %.2f%% of a handshake\n", t.median,
              t.p90, 100 * t.median / h.median);
  return failures == 0 ? 0 : 1;
}
