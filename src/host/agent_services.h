#pragma once
// The request service as the host assembles it: InitDLL handling, the
// component table, the field parser, the traces and the endpoint.

#include <cstdint>
#include <filesystem>
#include <memory>

#include "component/component_limits.h"
#include "component/component_wrapper.h"
#include "component/runtime/component_runtime.h"
#include "request/dll_token_table.h"
#include "request/field_parser.h"
#include "request/method_dispatch.h"
#include "request/request_endpoint.h"

namespace vorlink {

class DiagnosticLog;
class LogViewerSink;
class ModuleVerifier;

class AgentServices {
 public:
  // Components are created from registrations found by `runtime`; the
  // manifest is `Vorlink.ini` in `executable_folder`.
  AgentServices(DiagnosticLog& log, LogViewerSink& viewer, ModuleVerifier& verifier,
                const std::filesystem::path& executable_folder, ComponentRuntime runtime,
                FileSelectionService* file_selection, TickSource component_ticks = SteadyTickMs,
                ComponentLimits limits = {});
  ~AgentServices();

  const RequestEndpoint& endpoint() const { return *endpoint_; }
  void SetIdleTimeout(std::int32_t minutes) { idle_timeout_minutes_ = minutes; }
  void SweepTimeouts();
  void ReleaseAll();

 private:
  DiagnosticLog& log_;
  std::string CreateComponent(const PageOrigin& origin);

  std::int32_t idle_timeout_minutes_ = 0;
  TickSource component_ticks_;
  ComponentRuntime runtime_;
  std::unique_ptr<FileSelectionService> files_;
  std::unique_ptr<MethodDispatch> dispatch_;
  std::unique_ptr<DllTokenTable> tokens_;
  std::unique_ptr<InitDllService> init_dll_;
  std::unique_ptr<TraceRecorder> traces_;
  std::unique_ptr<FieldParser> parser_;
  std::unique_ptr<RequestEndpoint> endpoint_;
};

}  // namespace vorlink
