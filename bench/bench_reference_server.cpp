// A bare SSLServer: same certificate, key, TLS settings and six routes as
// the agent, answering a fixed text with no parsing and no logging.
//   bench_reference_server PORT

#include <httplib.h>

#include <cstdio>

#include "host/server/tls_credentials.h"
#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"

using namespace vorlink;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  platform::EmbeddedResourceSource resources;
  const auto cert = ParseCertificateDer(resources.Load(platform::kLocalhostResourceType, platform::kIdrLocalCert).bytes);
  const auto key = ParsePrivateKeyDer(resources.Load(platform::kLocalhostResourceType, platform::kIdrLocalKey).bytes);
  httplib::SSLServer server([&](SSL_CTX& ctx) { return ConfigureServerContext(ctx, cert.get(), key.get()); });
  server.set_tcp_nodelay(true);
  auto answer = [](const httplib::Request&, httplib::Response& res) {
    res.set_content("||-1||fixed||", "text/html; charset=utf-8");
  };
  for (const char* path : {"/", "/ORVA"}) {
    server.Post(path, answer);
    server.Options(path, [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    server.Get(path, answer);
  }
  if (!server.bind_to_port("127.0.0.1", std::atoi(argv[1]))) return 1;
  std::printf("READY\n");
  std::fflush(stdout);
  server.listen_after_bind();
}
