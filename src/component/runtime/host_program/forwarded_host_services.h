#pragma once
// Host services inside the component host program: each request goes to
// the agent over the socket and waits for its answer. The agent listens
// only while it waits for a call's result, so requests are forwarded only
// while a call is open; outside one a dialog answers cancelled and the
// wait-window requests are dropped.
//
// mutex_ guards the channel while a call is open, and open_: a component
// thread holds it for a whole request and answer; the serving thread takes
// it to open and close a call, so it never writes while a request runs.

#include <mutex>

#include "component/component_host_services.h"
#include "component/runtime/frame_channel.h"

namespace vorlink {

class ForwardedHostServices final : public ComponentHostServices {
 public:
  explicit ForwardedHostServices(FrameChannel& channel) : channel_(channel) {}

  void OpenCall();
  // Waits for a request in progress to get its answer.
  void CloseCall();

  std::optional<std::string> SelectFolder(const std::string& title) override;
  std::optional<std::vector<std::string>> SelectFiles(const std::string& title) override;
  void BeginWait(const std::string& message) override;
  void SetWaitMessage(const std::string& message) override;
  void EndWait() override;

 private:
  std::optional<std::string> Ask(host_protocol::HostService service, const std::string& text);

  FrameChannel& channel_;
  std::mutex mutex_;
  bool open_ = false;
};

}  // namespace vorlink
