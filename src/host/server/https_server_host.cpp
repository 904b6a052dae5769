#include "host/server/https_server_host.h"

#include <httplib.h>

#include "host/server/open_file_limit.h"
#include "log/diagnostic_log.h"
#include "request/request_endpoint.h"

namespace vorlink {

HttpsServerHost::HttpsServerHost(DiagnosticLog& log, std::vector<int> ports) : log_(log), ports_(std::move(ports)) {}

bool HttpsServerHost::InstallCertificate(std::span<const std::uint8_t> certificate, std::span<const std::uint8_t> key) {
  if (certificate.empty()) return false;
  if (sslServer.IsRunning()) return false;
  certificate_ = ParseCertificateDer(certificate);
  key_ = ParsePrivateKeyDer(key);
  return sslServer.Install(certificate_.get(), key_.get());
}

bool HttpsServerHost::InstallIdentity(const UserIdentity& identity) {
  if (sslServer.IsRunning() || !identity.certificate || !identity.key) return false;
  X509_up_ref(identity.certificate.get());
  EVP_PKEY_up_ref(identity.key.get());
  certificate_.reset(identity.certificate.get());
  key_.reset(identity.key.get());
  return sslServer.Install(certificate_.get(), key_.get());
}

void HttpsServerHost::RegisterRoutes(const RequestEndpoint& endpoint) {
  auto request = [&endpoint](const httplib::Request& req, httplib::Response& res) { endpoint.HandleRequest(req, res); };
  auto preflight = [&endpoint](const httplib::Request& req, httplib::Response& res) {
    endpoint.HandlePreflight(req, res);
  };
  sslServer.Post("/", request);
  sslServer.Post("/ORVA", request);
  sslServer.Options("/", preflight);
  sslServer.Options("/ORVA", preflight);
  sslServer.Get("/", request);
  sslServer.Get("/ORVA", request);
}

bool HttpsServerHost::Start() {
  RaiseOpenFileLimit();
  for (int port : ports_) {
    current_port_ = port;
    if (!sslServer.IsRunning()) sslServer.Listen(port);
    if (sslServer.IsRunning()) {
      log_.LogDebug("https 服務已經啟動, port", port);
      return true;
    }
  }
  current_port_ = -1;
  return false;
}

void HttpsServerHost::Stop() { sslServer.Stop(); }

}  // namespace vorlink
