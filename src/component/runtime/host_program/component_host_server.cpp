#include "component/runtime/host_program/component_host_server.h"

#include "component/runtime/frame_channel.h"
#include "component/runtime/host_program/forwarded_host_services.h"
#include "component/runtime/host_services_table.h"
#include "component/runtime/linux/component_api.h"

namespace vorlink {
namespace hp = host_protocol;

namespace {

hp::Message Call(const vorlink_component_api& api, void* instance, const hp::InvokeRequest& request) {
  try {
    return hp::InvokeResult{InvokeComponent(api, instance, request.dispid, request.kind, request.args)};
  } catch (ComponentFault& fault) {
    return hp::InvokeFault{std::move(fault.description)};
  }
}

bool Answer(FrameChannel& channel, const hp::Message& reply) {
  auto sent = channel.Send(reply);
  if (sent == FrameChannel::SendResult::kTooLarge) sent = channel.Send(hp::InvokeFault{u"result too large"});
  return sent == FrameChannel::SendResult::kSent;
}

void Serve(FrameChannel& channel, ForwardedHostServices& services, const vorlink_component_api& api, void* instance) {
  while (auto message = channel.Receive()) {
    const auto* request = std::get_if<hp::InvokeRequest>(&*message);
    if (!request) return;
    services.OpenCall();
    const hp::Message reply = Call(api, instance, *request);
    services.CloseCall();
    if (!Answer(channel, reply)) return;
  }
}

}  // namespace

int ServeComponent(int fd) {
  FrameChannel channel(fd);
  const auto first = channel.Receive();
  const auto* create = first ? std::get_if<hp::CreateRequest>(&*first) : nullptr;
  if (!create) return 2;
  ForwardedHostServices services(channel);
  const vorlink_host_services table = MakeHostServicesTable(&services);
  const vorlink_component_api* api = LoadComponentApi(create->library);
  void* instance = nullptr;
  int32_t status = api ? api->create_instance(create->clsid.data(), &table, &instance) : VORLINK_E_FAIL;
  if (status == VORLINK_S_OK && !instance) status = VORLINK_E_FAIL;
  channel.Send(hp::CreateReply{status});
  if (status != VORLINK_S_OK) return 1;
  Serve(channel, services, *api, instance);
  api->release_instance(instance);
  return 0;
}

}  // namespace vorlink
