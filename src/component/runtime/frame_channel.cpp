#include "component/runtime/frame_channel.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace vorlink {

FrameChannel::SendResult FrameChannel::Send(const host_protocol::Message& message) {
  const std::string frame = host_protocol::EncodeFrame(message);
  if (frame.size() - 4 > host_protocol::kMaxPayloadBytes) return SendResult::kTooLarge;
  for (std::size_t sent = 0; sent < frame.size();) {
    const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return SendResult::kPeerGone;
    sent += static_cast<std::size_t>(n);
  }
  return SendResult::kSent;
}

std::optional<host_protocol::Message> FrameChannel::Receive(const StillWaiting& still_waiting) {
  unsigned char header[4];
  if (!ReadExact(reinterpret_cast<char*>(header), sizeof header, still_waiting)) return std::nullopt;
  const auto length = host_protocol::DecodeHeader(header);
  if (!length) return std::nullopt;
  // Grows with what arrives, so a lying header costs no large allocation.
  std::string payload;
  while (payload.size() < *length) {
    const std::size_t chunk = std::min<std::size_t>(*length - payload.size(), 1u << 20);
    const std::size_t at = payload.size();
    payload.resize(at + chunk);
    if (!ReadExact(payload.data() + at, chunk, still_waiting)) return std::nullopt;
  }
  return host_protocol::DecodePayload(payload);
}

bool FrameChannel::ReadExact(char* out, std::size_t n, const StillWaiting& still_waiting) {
  while (n > 0) {
    // What has arrived is taken at once; only an empty socket is waited on.
    const ssize_t got = ::recv(fd_, out, n, still_waiting ? MSG_DONTWAIT : 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && still_waiting) {
      const auto wait = still_waiting();
      if (wait.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(wait.count(), INT32_MAX)));
      if (ready < 0 && errno != EINTR) return false;
      continue;
    }
    if (got <= 0) return false;
    out += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace vorlink
