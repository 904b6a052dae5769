#include "host/server/loopback_tls_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "host/server/connection_pool.h"
#include "host/server/request_limits.h"
#include "host/server/tls_connection.h"

namespace vorlink {
namespace {

// Whether this machine has an IPv6 loopback address at all; a machine with
// IPv6 switched off serves on 127.0.0.1 alone.
bool HasIpv6Loopback() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in6 addr{};
  addr.sin6_family = AF_INET6;
  addr.sin6_addr = in6addr_loopback;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// httplib's default sets SO_REUSEPORT, which lets a second agent of the same
// user (another desktop session, say) bind the very port this one serves,
// and the kernel would then share the connections out between the two: a
// page would find its token only every other request. SO_REUSEADDR alone
// still allows a quick restart over connections in TIME_WAIT.
void ExclusivePortOptions(socket_t fd) {
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

}  // namespace

// One httplib server on one loopback address, with the thread that runs its
// accept loop. It can close a socket that was bound but never listened on,
// which httplib's own stop() leaves open. Each accepted connection is
// served by ServeTlsConnection (request limits, bodies without a length)
// rather than by the library's own connection loop; the library still
// parses and routes every request.
class LoopbackTlsServer::Endpoint : public httplib::SSLServer {
 public:
  Endpoint(std::string address, X509* certificate, EVP_PKEY* key, BodyBudget& budget, SameUserGate& gate)
      : httplib::SSLServer([certificate, key](SSL_CTX& ctx) { return ConfigureServerContext(ctx, certificate, key); }),
        address_(std::move(address)),
        budget_(budget),
        gate_(gate),
        stop_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    set_tcp_nodelay(true);
    // A page makes a few calls per click (Login, sign, read the signature);
    // the library's default closes a connection after 5 requests, so every
    // other click paid a new TLS handshake. Each connection has its own
    // thread (below) and the 5-second idle limit still closes it.
    set_keep_alive_max_count(1000);
    set_socket_options(ExclusivePortOptions);
    // One thread per live connection, grown on demand: see connection_pool.h.
    new_task_queue = [] { return new ConnectionPool(); };
    // Connections refuse larger bodies before they are read; this is the
    // library's own check behind that.
    set_payload_max_length(request_limits::kMaxBodyBytes);
  }

  ~Endpoint() override {
    StopServing();
    if (thread_.joinable()) thread_.join();
    if (stop_fd_ >= 0) ::close(stop_fd_);
  }

  const std::string& address() const { return address_; }
  // The library listens with a backlog of 5, so a burst of connections (a
  // page opening several at once, on a busy machine whose accept loop is
  // not scheduled at once) had its SYNs dropped and waited a second or more
  // for the retransmission. Listening again on the bound socket raises it.
  bool Bind(int port) {
    if (!bind_to_port(address_, port)) return false;
    ::listen(svr_sock_, SOMAXCONN);
    return true;
  }

  void Serve() {
    // A previous accept loop has cleared its running flag by now; its
    // thread only has to return.
    if (thread_.joinable()) thread_.join();
    eventfd_t stops = 0;
    ::eventfd_read(stop_fd_, &stops);  // a stop of the last run is spent
    ended_ = false;
    thread_ = std::thread([this] {
      listen_after_bind();
      ended_ = true;
    });
  }

  // Waits until the accept loop runs or has given up.
  bool WaitUntilServing() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!is_running() && !ended_ && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return is_running();
  }

  void StopServing() {
    if (is_running()) {
      stop();
      ::eventfd_write(stop_fd_, 1);  // connections waiting for a request end now
    } else {
      ReleaseBoundSocket();
    }
  }

  void JoinIfEnded() {
    if (ended_ && thread_.joinable()) thread_.join();
  }

 private:
  bool process_and_close_socket(socket_t sock) override {
    if (!gate_.Admit(sock)) {
      ::close(sock);  // another user's connection ends before the handshake
      return true;
    }
    const ConnectionSettings settings{
        {std::chrono::milliseconds(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000),
         std::chrono::milliseconds(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000)},
        std::chrono::seconds(keep_alive_timeout_sec_),
        keep_alive_max_count_};
    ServeTlsConnection(
        sock, ssl_context(), settings, budget_,
        [this](httplib::Stream& stream, bool last, bool& closed, const std::function<void(httplib::Request&)>& setup) {
          return process_request(stream, last, closed, setup);
        },
        stop_fd_);
    return true;
  }

  void ReleaseBoundSocket() {
    const auto sock = svr_sock_.exchange(INVALID_SOCKET);
    if (sock != INVALID_SOCKET) ::close(sock);
  }

  std::string address_;
  BodyBudget& budget_;
  SameUserGate& gate_;
  const int stop_fd_;
  std::thread thread_;
  std::atomic<bool> ended_{true};
};

LoopbackTlsServer::LoopbackTlsServer(SameUserGate& gate) : gate_(gate) {}

LoopbackTlsServer::~LoopbackTlsServer() {
  Stop();
  endpoints_.clear();  // each endpoint joins its thread
}

bool LoopbackTlsServer::Install(X509* certificate, EVP_PKEY* key) {
  if (IsRunning()) return false;
  JoinFinishedListeners();
  endpoints_.clear();
  certificate_ = certificate;
  key_ = key;
  std::vector<std::string> addresses = {"127.0.0.1"};
  if (HasIpv6Loopback()) addresses.push_back("::1");
  for (const auto& address : addresses) {
    auto endpoint = std::make_unique<Endpoint>(address, certificate, key, body_budget_, gate_);
    if (!endpoint->is_valid()) {
      endpoints_.clear();
      has_context_ = false;
      return false;
    }
    for (const Route& route : routes_) ApplyRoute(*endpoint, route);
    endpoints_.push_back(std::move(endpoint));
  }
  has_context_ = true;
  return true;
}

void LoopbackTlsServer::Post(const std::string& path, Handler handler) {
  AddRoute({Route::Method::kPost, path, std::move(handler)});
}
void LoopbackTlsServer::Options(const std::string& path, Handler handler) {
  AddRoute({Route::Method::kOptions, path, std::move(handler)});
}
void LoopbackTlsServer::Get(const std::string& path, Handler handler) {
  AddRoute({Route::Method::kGet, path, std::move(handler)});
}

void LoopbackTlsServer::AddRoute(Route route) {
  for (auto& endpoint : endpoints_) ApplyRoute(*endpoint, route);
  routes_.push_back(std::move(route));
}

void LoopbackTlsServer::ApplyRoute(httplib::Server& server, const Route& route) {
  switch (route.method) {
    case Route::Method::kPost: server.Post(route.path, route.handler); break;
    case Route::Method::kOptions: server.Options(route.path, route.handler); break;
    case Route::Method::kGet: server.Get(route.path, route.handler); break;
  }
}

bool LoopbackTlsServer::Listen(int port) {
  if (!has_context_ || endpoints_.empty() || IsRunning()) return false;
  JoinFinishedListeners();
  for (auto& endpoint : endpoints_) {
    if (!endpoint->Bind(port)) {
      for (auto& e : endpoints_) e->StopServing();
      return false;
    }
  }
  for (auto& endpoint : endpoints_) endpoint->Serve();
  bool serving = true;
  for (auto& endpoint : endpoints_) serving = endpoint->WaitUntilServing() && serving;
  if (!serving) Stop();
  return serving;
}

void LoopbackTlsServer::Stop() {
  for (auto& endpoint : endpoints_) endpoint->StopServing();
}

bool LoopbackTlsServer::IsRunning() const {
  for (const auto& endpoint : endpoints_) {
    if (endpoint->is_running()) return true;
  }
  return false;
}

void LoopbackTlsServer::JoinFinishedListeners() {
  for (auto& endpoint : endpoints_) endpoint->JoinIfEnded();
}

}  // namespace vorlink
