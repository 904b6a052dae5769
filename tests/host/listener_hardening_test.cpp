// The listener under hostile clients: old TLS versions, a huge header,
// slow-loris clients and a thousand idle connections. A page must still be
// answered, within the library's read time-out and a generous margin.

#include <arpa/inet.h>
#include <httplib.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <net/if.h>
#include <thread>

#include "host/test_agent_server.h"
#include "platform/resources/resource_ids.h"
#include "support/free_ports.h"
#include "tls/tls_credentials.h"

namespace vorlink {
namespace {

using test::AgentServer;

struct SslCtxFree {
  void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
  void operator()(SSL* s) const { SSL_free(s); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;
using SslPtr = std::unique_ptr<SSL, SslFree>;

// Long enough for any answer the library owes (read time-out 5 s) on a
// loaded machine, short enough that a starved server fails the test.
constexpr int kAnswerBoundSeconds = 30;

// A TCP connection to 127.0.0.1:`port` whose reads and writes give up
// after `seconds`; -1 when it cannot be made.
int Connect(int port, int seconds = 10) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  timeval tv{seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A client context that offers every version from TLS 1.0 up to `max`,
// with the security level lowered so that this side never refuses first.
SslCtxPtr ClientContext(int max_version) {
  SslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
  SSL_CTX_set_security_level(ctx.get(), 0);
  SSL_CTX_set_cipher_list(ctx.get(), "DEFAULT:@SECLEVEL=0");
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_VERSION);
  SSL_CTX_set_max_proto_version(ctx.get(), max_version);
  return ctx;
}

// The negotiated version, or 0 when the handshake failed.
int HandshakeVersion(SSL_CTX* ctx, int fd) {
  SslPtr ssl(SSL_new(ctx));
  SSL_set_fd(ssl.get(), fd);
  const int version = SSL_connect(ssl.get()) == 1 ? SSL_version(ssl.get()) : 0;
  ERR_clear_error();
  return version;
}

// Whether a page's request gets its answer within the bound.
bool PageIsServed(int port) {
  auto client = test::Client("127.0.0.1", port);
  client->set_connection_timeout(kAnswerBoundSeconds);
  client->set_read_timeout(kAnswerBoundSeconds);
  auto res = client->Post("/", "DLLToken=1&ExecMethod=GetVersion", "text/plain");
  return res && res->status == 200 && res->body == "||-1||沒有找到指定的 DllToken, 無法執行||";
}

class ListenerHardening : public ::testing::Test {
 protected:
  void SetUp() override {
    ports_ = test::FreePorts(1);
    agent_ = std::make_unique<AgentServer>(ports_);
    ASSERT_TRUE(agent_->server().Start());
  }
  int port() const { return ports_[0]; }

  std::vector<int> ports_;
  std::unique_ptr<AgentServer> agent_;
};

// Every address of this machine's interfaces other than loopback, with the
// port set.
std::vector<sockaddr_storage> OtherLocalAddresses(int port) {
  std::vector<sockaddr_storage> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || (i->ifa_flags & IFF_LOOPBACK)) continue;
    sockaddr_storage a{};
    if (i->ifa_addr->sa_family == AF_INET) {
      std::memcpy(&a, i->ifa_addr, sizeof(sockaddr_in));
      reinterpret_cast<sockaddr_in*>(&a)->sin_port = htons(static_cast<uint16_t>(port));
    } else if (i->ifa_addr->sa_family == AF_INET6) {
      std::memcpy(&a, i->ifa_addr, sizeof(sockaddr_in6));  // keeps the scope of a link-local address
      reinterpret_cast<sockaddr_in6*>(&a)->sin6_port = htons(static_cast<uint16_t>(port));
    } else {
      continue;
    }
    out.push_back(a);
  }
  ::freeifaddrs(list);
  return out;
}

// Beside the listening sockets being bound to loopback (see the server host
// tests), nothing answers on the machine's other addresses.
TEST_F(ListenerHardening, NothingAnswersOnTheMachinesOtherAddresses) {
  const auto addresses = OtherLocalAddresses(port());
  if (addresses.empty()) GTEST_SKIP() << "no address besides loopback";
  for (const auto& a : addresses) {
    const int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    timeval tv{5, 0};  // bounds connect() should a firewall drop rather than refuse
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const socklen_t len = a.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = a.ss_family == AF_INET
                          ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&a)->sin_addr)
                          : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&a)->sin6_addr);
    ::inet_ntop(a.ss_family, raw, text, sizeof text);
    EXPECT_NE(::connect(fd, reinterpret_cast<const sockaddr*>(&a), len), 0) << text;
    ::close(fd);
  }
  EXPECT_TRUE(PageIsServed(port()));
}

TEST_F(ListenerHardening, TlsBelowOnePointTwoIsRefused) {
  const std::pair<int, int> cases[] = {
      {TLS1_VERSION, 0}, {TLS1_1_VERSION, 0}, {TLS1_2_VERSION, TLS1_2_VERSION}, {TLS1_3_VERSION, TLS1_3_VERSION}};
  for (const auto& [max_version, negotiated] : cases) {
    const int fd = Connect(port());
    ASSERT_GE(fd, 0);
    auto ctx = ClientContext(max_version);
    EXPECT_EQ(HandshakeVersion(ctx.get(), fd), negotiated) << "client up to " << std::hex << max_version;
    ::close(fd);
  }
  EXPECT_TRUE(PageIsServed(port()));
}

// The same old-version clients do connect to a context with the agent's
// settings but no version floor: the refusal above is the agent's doing.
TEST(ListenerHardeningControl, OldVersionClientsConnectWithoutTheFloor) {
  auto cert = ParseCertificateDer(test::Resource(platform::kIdrLocalCert));
  auto key = ParsePrivateKeyDer(test::DevelopmentKey());
  SslCtxPtr server_ctx(SSL_CTX_new(TLS_server_method()));
  ASSERT_TRUE(ConfigureServerContext(*server_ctx, cert.get(), key.get()));
  SSL_CTX_set_min_proto_version(server_ctx.get(), TLS1_VERSION);
  SSL_CTX_set_security_level(server_ctx.get(), 0);
  SSL_CTX_set_cipher_list(server_ctx.get(), "DEFAULT:@SECLEVEL=0");
  for (int version : {TLS1_VERSION, TLS1_1_VERSION}) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    std::thread server([&] {
      SslPtr ssl(SSL_new(server_ctx.get()));
      SSL_set_fd(ssl.get(), fds[1]);
      SSL_accept(ssl.get());
      ERR_clear_error();
    });
    auto ctx = ClientContext(version);
    EXPECT_EQ(HandshakeVersion(ctx.get(), fds[0]), version);
    ::close(fds[0]);
    server.join();
    ::close(fds[1]);
  }
}

TEST_F(ListenerHardening, AHugeHeaderIsRefusedWhileOthersAreServed) {
  std::atomic<int> big_status{0};
  std::thread big([&] {
    auto client = test::Client("127.0.0.1", port());
    client->set_read_timeout(kAnswerBoundSeconds);
    auto res = client->Get("/", {{"X-Big", std::string(1 << 20, 'a')}});
    big_status = res ? res->status : -1;
  });
  EXPECT_TRUE(PageIsServed(port()));
  big.join();
  EXPECT_NE(big_status, 200) << "a 1 MiB header line is not a request";
  EXPECT_TRUE(PageIsServed(port()));
}

// Clients that finish the handshake, then send their header one byte at a
// time, each byte well within the read time-out, and never end it. There
// are more of them than the library's default pool has threads, and each
// drips from the moment its handshake is done.
TEST_F(ListenerHardening, SlowLorisClientsDoNotStarveAPage) {
  constexpr int kClients = 32;
  auto ctx = ClientContext(TLS1_3_VERSION);
  std::mutex mutex;
  std::vector<std::pair<int, SslPtr>> slow;
  std::atomic<bool> stop{false};
  std::thread drip([&] {
    while (!stop) {
      {
        std::lock_guard lock(mutex);
        for (auto& [fd, ssl] : slow) SSL_write(ssl.get(), "a", 1);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  for (int i = 0; i < kClients; ++i) {
    const int fd = Connect(port());
    ASSERT_GE(fd, 0);
    SslPtr ssl(SSL_new(ctx.get()));
    SSL_set_fd(ssl.get(), fd);
    const bool handshake = SSL_connect(ssl.get()) == 1;
    const std::string start = "POST / HTTP/1.1\r\nHost: localhost\r\nX-Slow: ";
    if (handshake) SSL_write(ssl.get(), start.data(), static_cast<int>(start.size()));
    {
      std::lock_guard lock(mutex);
      slow.emplace_back(fd, std::move(ssl));
    }
    EXPECT_TRUE(handshake) << "handshake " << i << " was not served";
    if (!handshake) break;
  }
  EXPECT_TRUE(PageIsServed(port()));
  stop = true;
  drip.join();
  for (auto& [fd, ssl] : slow) {
    ssl.reset();
    ::close(fd);
  }
}

// Connections that never send a byte: each holds a worker through the TLS
// handshake until the read time-out.
TEST_F(ListenerHardening, AThousandIdleConnectionsDoNotStarveAPage) {
  constexpr int kIdle = 1000;
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  // Both ends live in this process: the clients' sockets and the server's.
  const rlim_t needed = 2 * kIdle + 256;
  if (files.rlim_cur < needed) {
    if (files.rlim_max < needed) GTEST_SKIP() << "the hard limit on open files is below " << needed;
    files.rlim_cur = needed;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
  }
  std::vector<int> idle;
  for (int i = 0; i < kIdle; ++i) {
    idle.push_back(Connect(port()));
    ASSERT_GE(idle.back(), 0) << "connection " << i;
  }
  EXPECT_TRUE(PageIsServed(port()));
  for (int fd : idle) ::close(fd);
  EXPECT_TRUE(PageIsServed(port()));
}

}  // namespace
}  // namespace vorlink
