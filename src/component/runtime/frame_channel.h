#pragma once
// Sends and receives host-protocol frames over one end of a socket pair.
// The channel does not own the socket; one thread uses it at a time (the
// owner of each end says which).

#include <chrono>
#include <functional>
#include <optional>

#include "component/runtime/host_protocol.h"

namespace vorlink {

class FrameChannel {
 public:
  // Asked before each wait for data: how long to wait before asking
  // again. Zero gives up.
  using StillWaiting = std::function<std::chrono::milliseconds()>;

  explicit FrameChannel(int fd) : fd_(fd) {}

  enum class SendResult { kSent, kTooLarge, kPeerGone };
  // Never raises SIGPIPE. A message over the frame limit is not sent.
  SendResult Send(const host_protocol::Message& message);

  // The next message; nullopt at end of stream, on an error, on a
  // malformed frame, or when `still_waiting` said no.
  std::optional<host_protocol::Message> Receive(const StillWaiting& still_waiting = {});

 private:
  bool ReadExact(char* out, std::size_t n, const StillWaiting& still_waiting);
  int fd_;
};

}  // namespace vorlink
