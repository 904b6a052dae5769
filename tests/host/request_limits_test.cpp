// What one request, and all of them together, may make the agent hold,
// tried over real TLS against the agent's server with traces on: bodies
// over their limit, bodies over the total, heads over their limits, and a
// POST that declares no body.

#include "host/server/request_limits.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>

#include "host/test_agent_server.h"
#include "support/free_ports.h"

namespace vorlink {
namespace {

namespace limits = request_limits;
constexpr std::size_t kMiB = 1024 * 1024;
#if defined(__SANITIZE_THREAD__)
constexpr bool kPeakTellsBodies = false;  // ThreadSanitizer's shadow grows with every byte a thread touches
#else
constexpr bool kPeakTellsBodies = true;
#endif

// A TLS connection to the agent that sends raw bytes, for requests no HTTP
// client would send. It does not check the certificate: the listener is
// under test here, not the trust in it.
class RawClient {
 public:
  explicit RawClient(int port) : ctx_(SSL_CTX_new(TLS_client_method())) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    ssl_ = SSL_new(ctx_);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && SSL_set_fd(ssl_, fd_) == 1 &&
                 SSL_connect(ssl_) == 1;
  }
  ~RawClient() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
    ::close(fd_);
    ERR_clear_error();
  }
  bool connected() const { return connected_; }

  bool Send(std::string_view bytes) {
    return !bytes.empty() &&
           SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
  }
  // Whether an answer has begun to arrive, waiting up to `wait_ms`. TLS
  // 1.3 session tickets make the socket readable too, so readable bytes
  // are read (without blocking) to see whether they hold an answer.
  bool Answered(int wait_ms = 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
      if (!in_.empty()) return true;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (SSL_pending(ssl_) == 0 && ::poll(&p, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) return false;
      const int flags = ::fcntl(fd_, F_GETFL);
      ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
      const bool got = Receive();
      ::fcntl(fd_, F_SETFL, flags);
      ERR_clear_error();
      if (!got && left.count() <= 0) return false;
    }
  }
  // Sends `body_bytes` of `fill` after the head, a piece at a time, and
  // stops as soon as an answer arrives (a refusal comes before the body is
  // read); then reads the answer's status.
  int SendAndRead(const std::string& head, std::size_t body_bytes, char fill = 'a') {
    if (!Send(head)) return 0;
    const std::string piece(64 * 1024, fill);
    for (std::size_t sent = 0; sent < body_bytes && !Answered();) {
      const std::size_t n = std::min(piece.size(), body_bytes - sent);
      if (!Send(std::string_view(piece).substr(0, n))) break;
      sent += n;
    }
    return Read().status;
  }
  struct Answer {
    int status = 0;
    std::string body;
  };
  // One answer: its status and its body (by Content-Length).
  Answer Read() {
    Answer answer;
    std::size_t head_end;
    while ((head_end = in_.find("\r\n\r\n")) == std::string::npos) {
      if (!Receive()) return answer;
    }
    answer.status = std::atoi(in_.substr(9, 3).c_str());
    const std::size_t length_at = in_.find("Content-Length: ");
    const std::size_t length = length_at < head_end ? std::stoul(in_.substr(length_at + 16)) : 0;
    while (in_.size() < head_end + 4 + length && Receive()) {
    }
    answer.body = in_.substr(head_end + 4, length);
    in_.erase(0, head_end + 4 + length);
    return answer;
  }

 private:
  bool Receive() {
    char buffer[16 * 1024];
    const int n = SSL_read(ssl_, buffer, sizeof buffer);
    if (n <= 0) return false;
    in_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  SSL_CTX* ctx_;
  SSL* ssl_ = nullptr;
  int fd_ = -1;
  bool connected_ = false;
  std::string in_;
};

std::string Head(const std::string& type, const std::string& framing) {
  return "POST / HTTP/1.1\r\nHost: localhost\r\nContent-Type: " + type + "\r\n" + framing + "\r\n";
}

std::string Length(std::size_t bytes) { return "Content-Length: " + std::to_string(bytes) + "\r\n"; }

// The peak resident memory of this process since the last reset, in KiB.
long PeakKib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

bool ResetPeak() { return static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5"); }

class RequestLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);  // a refused client's writes may meet a closed connection
    ports_ = test::FreePorts(1);
    agent_ = std::make_unique<test::AgentServer>(ports_, true);
    ASSERT_TRUE(agent_->server().Start());
  }
  int port() const { return ports_[0]; }

  std::vector<int> ports_;
  std::unique_ptr<test::AgentServer> agent_;
};

// Neither Content-Length nor Transfer-Encoding: the request has no body and
// is answered at once (the library's read time-out, 5 s, is what a wait for
// the connection to close would take); the connection stays usable.
TEST_F(RequestLimits, APostWithoutALengthHasNoBodyAndIsAnsweredAtOnce) {
  RawClient client(port());
  ASSERT_TRUE(client.connected());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(client.Send("POST /ORVA HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  const RawClient::Answer empty = client.Read();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500)) << "it waited for a body";
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(empty.body, "");
  const std::string call = "DLLToken=1&ExecMethod=GetVersion";
  ASSERT_TRUE(client.Send(Head("text/plain", Length(call.size())) + call));
  EXPECT_EQ(client.Read().body, "||-1||沒有找到指定的 DllToken, 無法執行||");
  EXPECT_NE(agent_->LogText().find("- Path : /ORVA\r\n- Headers : \r\n"), std::string::npos) << "traced as any request";
}

// Each body against its limit, declared or chunked; the agent's peak memory
// grows by what it accepts, never by what it refuses.
TEST_F(RequestLimits, BodiesOverTheirLimitAreRefusedWithoutBeingHeld) {
  const std::string plain = "text/plain", form = "application/x-www-form-urlencoded";
  const std::string chunked = "Transfer-Encoding: chunked\r\n";
  const struct {
    std::string type, framing;
    std::size_t sent;  // bytes on the wire after the head, chunk framing included
    int status;
  } cases[] = {
      {plain, Length(limits::kMaxBodyBytes), limits::kMaxBodyBytes, 200},
      {plain, Length(limits::kMaxBodyBytes + 1), limits::kMaxBodyBytes + 1, 413},
      {plain, Length(64 * kMiB), 64 * kMiB, 413},
      {plain, chunked, 64 * kMiB, 413},  // chunks never end; cut at the limit
      {form, Length(limits::kMaxFormBodyBytes), limits::kMaxFormBodyBytes, 200},
      {form, Length(limits::kMaxFormBodyBytes + 1), limits::kMaxFormBodyBytes + 1, 413},
      {form, Length(1024 * kMiB), 1024 * kMiB, 413},
      {form, chunked, 64 * kMiB, 413},
      {plain, "Transfer-Encoding: gzip\r\n", 100, 400},
      {plain, "Content-Length: 12x\r\n", 100, 400},
  };
  ASSERT_TRUE(ResetPeak() && PeakKib() > 0) << "peak memory cannot be measured here";
  for (const auto& c : cases) {
    RawClient client(port());
    ASSERT_TRUE(client.connected());
    const std::string head = Head(c.type, c.framing);
    std::string wire_head = head;
    if (c.framing == chunked) wire_head += "7fffffff\r\n";  // one chunk bigger than any limit
    ResetPeak();
    const long before = PeakKib();
    EXPECT_EQ(client.SendAndRead(wire_head, c.sent), c.status) << head;
    const long grown_kib = PeakKib() - before;
    const std::size_t accepted = c.status == 200 ? c.sent : 0;
    if (kPeakTellsBodies) {
      EXPECT_LE(static_cast<std::size_t>(std::max(grown_kib, 0L)) * 1024, 3 * accepted + 8 * kMiB) << head;
    }
  }
}

// Bodies being received hold their declared length from the budget; the
// request that would pass the total is answered 503 at once and the others
// go on.
TEST_F(RequestLimits, BodiesOverTheTotalAreRefusedWith503) {
  constexpr std::size_t kHeld = limits::kMaxBufferedBodyBytes / limits::kMaxBodyBytes;
  std::vector<std::unique_ptr<RawClient>> clients;
  for (std::size_t i = 0; i <= kHeld; ++i) {  // one more than fits
    clients.push_back(std::make_unique<RawClient>(port()));
    ASSERT_TRUE(clients.back()->connected());
    ASSERT_TRUE(clients.back()->Send(Head("text/plain", Length(limits::kMaxBodyBytes))));
  }
  std::size_t refused = clients.size();
  for (std::size_t i = 0; i < clients.size(); ++i) {
    if (refused == clients.size() && clients[i]->Answered(i == 0 ? 2000 : 50)) refused = i;
  }
  ASSERT_LT(refused, clients.size()) << "no request was refused";
  EXPECT_EQ(clients[refused]->Read().status, 503);
  RawClient& waiting = *clients[refused == 0 ? 1 : 0];
  EXPECT_TRUE(waiting.Send(std::string(limits::kMaxBodyBytes, 'a')));
  EXPECT_EQ(waiting.Read().status, 200) << "a body within the total is received";
  RawClient late(port());
  EXPECT_EQ(late.SendAndRead(Head("text/plain", Length(2)), 2), 200) << "its share is free again";
}

// Over the header count or the head's size the answer is 431 and nothing of
// the request reaches the log; at the limit it is served and traced.
TEST_F(RequestLimits, HeadsOverTheirLimitsGet431AndReachNoLog) {
  auto lines = [](const std::string& marker, std::size_t count, std::size_t value_bytes) {
    std::string headers;
    for (std::size_t i = 0; i < count; ++i)
      headers += marker + std::to_string(i) + ": " + std::string(value_bytes, 'v') + "\r\n";
    return headers;
  };
  const std::size_t long_value = limits::kMaxHeadBytes / 30;
  const struct {
    std::string headers, marker;
    int status;
  } cases[] = {
      // Host, Content-Type and Content-Length are three of the header lines.
      {lines("X-Served-", limits::kMaxHeaderLines - 3, 1), "X-Served-", 200},
      {lines("X-Counted-", limits::kMaxHeaderLines - 2, 1), "X-Counted-", 431},
      {lines("X-Flood-", 20000, 10), "X-Flood-", 431},
      {lines("X-Long-", 31, long_value), "X-Long-", 431},
  };
  for (const auto& c : cases) {
    RawClient client(port());
    ASSERT_TRUE(client.connected());
    std::string head = Head("text/plain", Length(1));
    head.insert(head.size() - 2, c.headers);
    EXPECT_EQ(client.SendAndRead(head, 1), c.status) << c.marker;
  }
  const std::string log = agent_->LogText();
  EXPECT_NE(log.find("X-Served-96"), std::string::npos);
  for (const char* refused : {"X-Counted-", "X-Flood-", "X-Long-"}) EXPECT_EQ(log.find(refused), std::string::npos);
}

}  // namespace
}  // namespace vorlink
