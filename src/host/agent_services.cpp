#include "host/agent_services.h"

#include "component/component_wrapper.h"
#include "log/diagnostic_log.h"
#include "request/answer.h"
#include "request/init_dll_handler.h"
#include "request/log_trace_recorder.h"
#include "text/text_codec.h"

namespace vorlink {

AgentServices::AgentServices(DiagnosticLog& log, LogViewerSink& viewer, ModuleVerifier& verifier,
                             const std::filesystem::path& executable_folder, ComponentRuntime runtime,
                             FileSelectionService* file_selection, TickSource component_ticks, ComponentLimits limits)
    : log_(log),
      component_ticks_(std::move(component_ticks)),
      runtime_(std::move(runtime)),
      files_(std::make_unique<CancelledFileSelection>()),
      dispatch_(std::make_unique<MethodDispatch>(log, file_selection ? *file_selection : *files_)),
      tokens_(std::make_unique<DllTokenTable>(log, *dispatch_, limits)),
      init_dll_(std::make_unique<InitDllHandler>(log, verifier, executable_folder / "Vorlink.ini",
                                                 [this](const PageOrigin& origin) { return CreateComponent(origin); })),
      traces_(std::make_unique<LogTraceRecorder>(log, &viewer)),
      parser_(std::make_unique<FieldParser>(*init_dll_, *tokens_)),
      endpoint_(std::make_unique<RequestEndpoint>(*parser_, *traces_)) {}

AgentServices::~AgentServices() = default;

std::string AgentServices::CreateComponent(const PageOrigin& origin) {
  auto seat = tokens_->TakeSeat(origin);
  if (!seat) {
    log_.LogError("元件數量已達上限, 不再建立元件");
    return {};
  }
  auto instance = runtime_.Create(EncodeUtf8(kComponentProgId));
  if (!instance) return {};
  auto wrapper = std::make_shared<ComponentWrapper>(component_ticks_);
  wrapper->SetInstance(std::move(instance), idle_timeout_minutes_);
  const std::int32_t token = tokens_->Append(std::move(wrapper), std::move(*seat));
  log_.LogDebug("建立 Vorlink 服務子程序, tokenId", token);
  return TokenAnswer(token);
}

void AgentServices::SweepTimeouts() { tokens_->Sweep(); }
void AgentServices::ReleaseAll() { tokens_->ReleaseAll(); }

}  // namespace vorlink
