#include "host/agent_services.h"

#include "component/init_dll_handler.h"
#include "desktop/log/diagnostic_log.h"
#include "request/log_trace_recorder.h"

namespace vorlink {

AgentServices::AgentServices(DiagnosticLog& log, LogViewerSink& viewer, ModuleVerifier& verifier,
                             const std::filesystem::path& manifest_path)
    : log_(log),
      files_(std::make_unique<CancelledFileSelection>()),
      dispatch_(std::make_unique<MethodDispatch>(log, *files_)),
      tokens_(std::make_unique<DllTokenTable>(log, *dispatch_)),
      // No component runtime yet: creation fails as for an unregistered ProgID.
      init_dll_(std::make_unique<InitDllHandler>(log, verifier, manifest_path, nullptr)),
      traces_(std::make_unique<LogTraceRecorder>(log, &viewer)),
      parser_(std::make_unique<FieldParser>(*init_dll_, *tokens_)),
      endpoint_(std::make_unique<RequestEndpoint>(*parser_, *traces_)) {}

AgentServices::~AgentServices() = default;

void AgentServices::SweepTimeouts() { tokens_->Sweep(); }
void AgentServices::ReleaseAll() { tokens_->ReleaseAll(); }

}  // namespace vorlink
