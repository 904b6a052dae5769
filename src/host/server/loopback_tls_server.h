#pragma once
// The agent's one TLS server object (`sslServer`). Pages reach the agent as
// https://localhost:P, which resolves to both ::1 and 127.0.0.1, so the
// server listens on each loopback address the machine has, and on nothing
// else. One port serves both; a port that is taken on either address is
// taken. Each accepted connection passes the SameUserGate before its
// handshake.

#include <httplib.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/server/body_budget.h"
#include "host/server/request_limits.h"
#include "host/server/same_user_gate.h"
#include "tls/tls_credentials.h"

namespace vorlink {

class LoopbackTlsServer {
 public:
  using Handler = httplib::Server::Handler;

  // `gate` decides which connections are served; it must outlive the server.
  explicit LoopbackTlsServer(SameUserGate& gate);
  ~LoopbackTlsServer();
  LoopbackTlsServer(const LoopbackTlsServer&) = delete;
  LoopbackTlsServer& operator=(const LoopbackTlsServer&) = delete;

  // Makes a fresh TLS context from the certificate and key. Refused while
  // running (the running context stays as it is) and when the context does
  // not accept them (the server is then left without one).
  bool Install(X509* certificate, EVP_PKEY* key);
  bool HasContext() const { return has_context_; }

  // Routes, in registration order. Paths are matched whole.
  void Post(const std::string& path, Handler handler);
  void Options(const std::string& path, Handler handler);
  void Get(const std::string& path, Handler handler);

  // Binds `port` on every loopback address and starts serving; returns once
  // the server runs. False, with nothing left bound, when any address
  // refuses the port or there is no TLS context.
  bool Listen(int port);

  // Closes the listening sockets. Does not wait: requests in progress finish
  // on their workers and the running flag clears when the last loop ends.
  void Stop();

  bool IsRunning() const;

 private:
  class Endpoint;
  struct Route {
    enum class Method { kPost, kOptions, kGet } method;
    std::string path;
    Handler handler;
  };

  void AddRoute(Route route);
  static void ApplyRoute(httplib::Server& server, const Route& route);
  void JoinFinishedListeners();

  SameUserGate& gate_;
  std::vector<Route> routes_;
  // Bodies being received on every address together (request_limits.h).
  BodyBudget body_budget_{request_limits::kMaxBufferedBodyBytes};
  std::vector<std::unique_ptr<Endpoint>> endpoints_;
  X509* certificate_ = nullptr;
  EVP_PKEY* key_ = nullptr;
  bool has_context_ = false;
};

}  // namespace vorlink
