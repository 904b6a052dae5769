#include "component/runtime/host_program/component_host_server.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "component/runtime/frame_channel.h"
#include "component/runtime/host_program/forwarded_host_services.h"
#include "component/runtime/host_services_table.h"
#include "component/runtime/linux/component_api.h"

namespace vorlink {
namespace hp = host_protocol;

namespace {

// How long a call in progress may go on once the agent has closed its end:
// time for a module's own clean-up, then the host ends.
constexpr auto kClosedGrace = std::chrono::seconds(1);

// Ends the process when the agent closes its end of the socket while a
// call runs (the serving thread then cannot notice: it is inside the
// component). Between calls the serving thread sees the end of stream
// itself and releases the instance in order.
void WatchForClose(int fd, const std::atomic<bool>& in_call) {
  std::thread([fd, &in_call] {
    pollfd p{fd, POLLRDHUP, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    if (!in_call) return;
    std::this_thread::sleep_for(kClosedGrace);
    ::_exit(0);
  }).detach();
}

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

void Serve(FrameChannel& channel, ForwardedHostServices& services, const vorlink_component_api& api, void* instance,
           std::atomic<bool>& in_call) {
  while (auto message = channel.Receive()) {
    const auto* request = std::get_if<hp::InvokeRequest>(&*message);
    if (!request) return;
    services.OpenCall();
    in_call = true;
    const hp::Message reply = Call(api, instance, *request);
    in_call = false;
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
  static std::atomic<bool> in_call{false};  // outlives the watching thread
  WatchForClose(fd, in_call);
  Serve(channel, services, *api, instance, in_call);
  api->release_instance(instance);
  return 0;
}

}  // namespace vorlink
