#include "component/runtime/host_program/forwarded_host_services.h"

#include <sstream>

namespace vorlink {
namespace hp = host_protocol;

void ForwardedHostServices::OpenCall() {
  std::lock_guard lock(mutex_);
  open_ = true;
}

void ForwardedHostServices::CloseCall() {
  std::lock_guard lock(mutex_);
  open_ = false;
}

std::optional<std::string> ForwardedHostServices::Ask(hp::HostService service, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (!open_) return std::nullopt;
  if (channel_.Send(hp::HostCall{service, text}) == FrameChannel::SendResult::kSent) {
    auto message = channel_.Receive();
    if (auto* reply = message ? std::get_if<hp::HostReply>(&*message) : nullptr) return std::move(reply->text);
  }
  // The agent is gone or answered nonsense: forward nothing more in this
  // call; the serving thread notices when it sends the result.
  open_ = false;
  return std::nullopt;
}

std::optional<std::string> ForwardedHostServices::SelectFolder(const std::string& title) {
  return Ask(hp::HostService::kSelectFolder, title);
}

std::optional<std::vector<std::string>> ForwardedHostServices::SelectFiles(const std::string& title) {
  const auto joined = Ask(hp::HostService::kSelectFiles, title);
  if (!joined) return std::nullopt;
  std::vector<std::string> files;
  std::istringstream lines(*joined);
  for (std::string file; std::getline(lines, file, '\n');) files.push_back(file);
  return files;
}

void ForwardedHostServices::BeginWait(const std::string& message) { Ask(hp::HostService::kBeginWait, message); }

void ForwardedHostServices::SetWaitMessage(const std::string& message) {
  Ask(hp::HostService::kSetWaitMessage, message);
}

void ForwardedHostServices::EndWait() { Ask(hp::HostService::kEndWait, {}); }

}  // namespace vorlink
