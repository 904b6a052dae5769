#pragma once
// The request service as the host assembles it: InitDLL handling, the
// component table, the field parser, the traces and the endpoint.

#include <cstdint>
#include <filesystem>
#include <memory>

#include "request/field_parser.h"
#include "request/request_endpoint.h"

namespace vorlink {

class DiagnosticLog;
class LogViewerSink;
class ModuleVerifier;

class AgentServices {
 public:
  AgentServices(DiagnosticLog& log, LogViewerSink& viewer, ModuleVerifier& verifier,
                const std::filesystem::path& manifest_path);
  ~AgentServices();

  const RequestEndpoint& endpoint() const { return *endpoint_; }
  void SetIdleTimeout(std::int32_t minutes);
  void SweepTimeouts();
  void ReleaseAll();

 private:
  DiagnosticLog& log_;
  std::unique_ptr<InitDllService> init_dll_;
  std::unique_ptr<TokenCallService> tokens_;
  std::unique_ptr<TraceRecorder> traces_;
  std::unique_ptr<FieldParser> parser_;
  std::unique_ptr<RequestEndpoint> endpoint_;
};

}  // namespace vorlink
