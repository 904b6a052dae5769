#pragma once
// A component running out of process: our host program loads the library
// and creates the instance, and every Invoke is forwarded over a socket,
// one call at a time. Host services the component asks for during a call
// come back over the same socket and are answered here.
//
// The instance is used by one thread at a time (the wrapper's call mutex
// serialises calls and destruction), so its state needs no lock of its own;
// only Abort() and ended() come from other threads, through the process's
// own lock and an atomic. Once the host process has died, broken the
// protocol or let a call pass its deadline, it is killed and reaped, and
// this call and every later one throw ComponentFault.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "component/component_host_services.h"
#include "component/component_instance.h"
#include "component/runtime/frame_channel.h"
#include "component/runtime/linux/host_process.h"

namespace vorlink {

class LocalServerInstance final : public ComponentInstance {
 public:
  // How long destruction waits for the host to release its instance and
  // exit before it is killed.
  static constexpr std::chrono::milliseconds kExitGrace{2000};

  // Starts `host_program`, which creates `clsid` from `library`; nullptr
  // when the program does not start or creation fails. `services` may be
  // null (every dialog cancelled) and must outlive the instance. Creation
  // and every call may go `deadline` without a word from the host before
  // it is killed.
  static std::unique_ptr<LocalServerInstance> Start(const std::filesystem::path& host_program,
                                                    const std::filesystem::path& library,
                                                    const std::array<std::uint8_t, 16>& clsid,
                                                    ComponentHostServices* services,
                                                    std::chrono::milliseconds deadline);
  ~LocalServerInstance() override;

  Variant Invoke(int dispid, CallKind kind, const std::vector<Variant>& args) override;
  void Abort() override { process_->Kill(); }
  bool ended() const override { return broken_ || process_->Ended(); }

 private:
  LocalServerInstance(std::unique_ptr<HostProcess> process, ComponentHostServices* services,
                      std::chrono::milliseconds deadline);
  // The next message that is not a host call, answering host calls on the
  // way; nullopt when the host is gone, broke the protocol or stayed
  // silent past the deadline.
  std::optional<host_protocol::Message> AwaitReply();
  void AnswerHostCall(const host_protocol::HostCall& call);
  [[noreturn]] void Broken();

  std::unique_ptr<HostProcess> process_;
  FrameChannel channel_;
  ComponentHostServices* services_;
  std::chrono::milliseconds deadline_;
  std::atomic<bool> broken_{false};
};

}  // namespace vorlink
