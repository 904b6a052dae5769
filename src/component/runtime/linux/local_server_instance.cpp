#include "component/runtime/linux/local_server_instance.h"

#include <algorithm>

namespace vorlink {
namespace hp = host_protocol;

namespace {

ComponentHostServices& ServicesOrNone(ComponentHostServices* services) {
  static NoDesktopHostServices none;
  return services ? *services : none;
}

std::optional<std::string> Joined(const std::optional<std::vector<std::string>>& files) {
  if (!files || files->empty()) return std::nullopt;
  std::string joined;
  for (const std::string& file : *files) joined += (joined.empty() ? "" : "\n") + file;
  return joined;
}

}  // namespace

std::unique_ptr<LocalServerInstance> LocalServerInstance::Start(const std::filesystem::path& host_program,
                                                                const std::filesystem::path& library,
                                                                const std::array<std::uint8_t, 16>& clsid,
                                                                ComponentHostServices* services,
                                                                std::chrono::milliseconds deadline) {
  auto process = HostProcess::Spawn(host_program);
  if (!process) return nullptr;
  std::unique_ptr<LocalServerInstance> instance(new LocalServerInstance(std::move(process), services, deadline));
  if (instance->channel_.Send(hp::CreateRequest{clsid, library.string()}) != FrameChannel::SendResult::kSent) {
    return nullptr;
  }
  const auto reply = instance->AwaitReply();
  const auto* created = reply ? std::get_if<hp::CreateReply>(&*reply) : nullptr;
  if (!created || created->status != 0) return nullptr;
  return instance;
}

LocalServerInstance::LocalServerInstance(std::unique_ptr<HostProcess> process, ComponentHostServices* services,
                                         std::chrono::milliseconds deadline)
    : process_(std::move(process)), channel_(process_->fd()), services_(services), deadline_(deadline) {}

LocalServerInstance::~LocalServerInstance() { process_->Stop(kExitGrace); }

Variant LocalServerInstance::Invoke(int dispid, CallKind kind, const std::vector<Variant>& args) {
  if (broken_) throw ComponentFault{u"component host ended"};
  switch (channel_.Send(hp::InvokeRequest{dispid, kind, args})) {
    case FrameChannel::SendResult::kSent: break;
    case FrameChannel::SendResult::kTooLarge: throw ComponentFault{u"arguments too large"};
    case FrameChannel::SendResult::kPeerGone: Broken();
  }
  auto reply = AwaitReply();
  if (!reply) Broken();
  if (auto* result = std::get_if<hp::InvokeResult>(&*reply)) return std::move(result->value);
  if (auto* fault = std::get_if<hp::InvokeFault>(&*reply)) throw ComponentFault{std::move(fault->description)};
  Broken();
}

std::optional<hp::Message> LocalServerInstance::AwaitReply() {
  // A host that died leaves the socket at end of stream; the check covers
  // one whose socket a process it started still holds open. The deadline
  // starts again after each host call: a dialog may take the user long.
  using namespace std::chrono;
  auto give_up = steady_clock::now() + deadline_;
  const FrameChannel::StillWaiting alive = [&] {
    if (process_->Ended()) return milliseconds(0);
    const auto left = ceil<milliseconds>(give_up - steady_clock::now());
    return std::clamp(left, milliseconds(0), milliseconds(1000));
  };
  for (;;) {
    auto message = channel_.Receive(alive);
    auto* call = message ? std::get_if<hp::HostCall>(&*message) : nullptr;
    if (!call) return message;
    AnswerHostCall(*call);
    give_up = steady_clock::now() + deadline_;
  }
}

void LocalServerInstance::AnswerHostCall(const hp::HostCall& call) {
  ComponentHostServices& services = ServicesOrNone(services_);
  hp::HostReply reply;
  try {
    switch (call.service) {
      case hp::HostService::kSelectFolder: reply.text = services.SelectFolder(call.text); break;
      case hp::HostService::kSelectFiles: reply.text = Joined(services.SelectFiles(call.text)); break;
      case hp::HostService::kBeginWait: services.BeginWait(call.text); break;
      case hp::HostService::kSetWaitMessage: services.SetWaitMessage(call.text); break;
      case hp::HostService::kEndWait: services.EndWait(); break;
    }
  } catch (...) {
    reply.text.reset();  // a failed dialog reads as cancelled
  }
  channel_.Send(reply);  // a host gone meanwhile shows at the next receive
}

void LocalServerInstance::Broken() {
  broken_ = true;
  process_->Stop(std::chrono::milliseconds(0));
  throw ComponentFault{u"component host ended"};
}

}  // namespace vorlink
