#pragma once
// The HTTPS server host: installs the certificate, registers the six routes,
// probes the ports in order and starts or stops the listener, which serves
// only the agent's own user (same_user_gate.h).

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "host/agent_ports.h"
#include "host/server/loopback_tls_server.h"
#include "host/server/same_user_gate.h"
#include "tls/user_identity.h"

namespace vorlink {

class DiagnosticLog;
class RequestEndpoint;

class HttpsServerHost {
 public:
  // `ports` are tried in order; tests pass free ports of their own.
  explicit HttpsServerHost(DiagnosticLog& log, std::vector<int> ports = kAgentPorts);

  // Parses the DER certificate and key and gives them to the server.
  // Fails while the server runs, leaving its TLS context as it is.
  bool InstallCertificate(std::span<const std::uint8_t> certificate, std::span<const std::uint8_t> key);
  // The same with the user's identity: its server certificate and key.
  bool InstallIdentity(const UserIdentity& identity);

  // POST, OPTIONS, GET on "/" and "/ORVA", bound to the endpoint.
  void RegisterRoutes(const RequestEndpoint& endpoint);

  // Listens on the first port that is free on every loopback address and
  // logs it. Returns the running flag.
  bool Start();
  void Stop();

  bool IsRunning() const { return sslServer.IsRunning(); }
  // The port being served, or -1 when none is.
  int CurrentPort() const { return IsRunning() ? current_port_.load() : -1; }

 private:
  DiagnosticLog& log_;
  std::vector<int> ports_;
  X509Ptr certificate_;
  EvpPkeyPtr key_;
  std::atomic<int> current_port_{-1};
  SameUserGate gate_{log_};
  LoopbackTlsServer sslServer{gate_};  // declared last: its threads end before the rest goes
};

}  // namespace vorlink
