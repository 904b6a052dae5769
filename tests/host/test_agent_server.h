#pragma once
// A complete agent request path on free ports (log, endpoint, server over
// real TLS, no components) and clients that trust its certificate. With
// `traced`, every request and answer is traced into the log as the agent
// does.

#include <httplib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/no_component_services.h"
#include "host/server/https_server_host.h"
#include "log/diagnostic_log.h"
#include "request/field_parser.h"
#include "request/log_trace_recorder.h"
#include "request/request_endpoint.h"
#include "support/test_paths.h"

namespace vorlink::test {

std::vector<std::uint8_t> Resource(int id);
// The development server certificate's key (tests/support/old-identity/localhost.key.der),
// read from the source tree: no program compiles it in.
std::vector<std::uint8_t> DevelopmentKey();

class AgentServer {
 public:
  explicit AgentServer(std::vector<int> ports, bool traced = false);
  HttpsServerHost& server() { return server_; }
  // Every log file's bytes, concatenated.
  std::string LogText() const;

 private:
  ScratchDir scratch_;
  DiagnosticLog log_;
  NoManifestInitDll init_dll_;
  EmptyTokenTable tokens_;
  FieldParser parser_;
  NullTraceRecorder untraced_;
  LogTraceRecorder traced_;
  RequestEndpoint endpoint_;
  HttpsServerHost server_;
};

// A client of `host`:`port` that verifies the agent's certificate (except
// on ::1, which the certificate does not name).
std::unique_ptr<httplib::SSLClient> Client(const std::string& host, int port);

}  // namespace vorlink::test
