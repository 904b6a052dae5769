#include "host/test_agent_server.h"

#include <fstream>
#include <gtest/gtest.h>

#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"

namespace vorlink::test {

std::vector<std::uint8_t> Resource(int id) {
  return platform::EmbeddedResourceSource().Load(platform::kLocalhostResourceType, id).bytes;
}

std::vector<std::uint8_t> DevelopmentKey() {
  const std::string bytes = ReadFileText(SourcePath("tests/support/old-identity/localhost.key.der"));
  return {bytes.begin(), bytes.end()};
}

AgentServer::AgentServer(std::vector<int> ports, bool traced)
    : init_dll_(log_),
      parser_(init_dll_, tokens_),
      traced_(log_, nullptr),
      endpoint_(parser_, traced ? static_cast<TraceRecorder&>(traced_) : untraced_),
      server_(log_, std::move(ports)) {
  log_.PrepareLogDirectory(scratch_.path().string());
  log_.ScanLogIndex();
  EXPECT_TRUE(server_.InstallCertificate(Resource(platform::kIdrLocalCert), DevelopmentKey()));
  server_.RegisterRoutes(endpoint_);
}

std::string AgentServer::LogText() const {
  std::string all;
  for (const auto& entry : std::filesystem::directory_iterator(scratch_.path())) {
    std::ifstream in(entry.path(), std::ios::binary);
    all.append(std::istreambuf_iterator<char>(in), {});
  }
  return all;
}

std::unique_ptr<httplib::SSLClient> Client(const std::string& host, int port) {
  auto client = std::make_unique<httplib::SSLClient>(host, port);
  client->set_ca_cert_path(SourcePath("resources/ORVA.crt").c_str());
  client->enable_server_certificate_verification(host != "::1");  // the certificate names localhost and 127.0.0.1
  client->set_connection_timeout(5);
  return client;
}

}  // namespace vorlink::test
