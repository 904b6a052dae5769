#include "host/server/tls_stream.h"

#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "host/server/request_limits.h"

namespace vorlink {
namespace {

// Gathered writes go out once they fill a TLS record.
constexpr std::size_t kSendAt = 16 * 1024;

void Address(const sockaddr_storage& addr, socklen_t length, std::string& ip, int& port) {
  if (addr.ss_family == AF_INET) port = ntohs(reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
  if (addr.ss_family == AF_INET6) port = ntohs(reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port);
  std::array<char, NI_MAXHOST> host{};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&addr), length, host.data(), host.size(), nullptr, 0,
                    NI_NUMERICHOST) == 0) {
    ip = host.data();
  }
}

const char* Reason(int status) {
  switch (status) {
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Bad Request";
  }
}

}  // namespace

TlsStream::TlsStream(int fd, SSL* ssl, Timeouts timeouts) : fd_(fd), ssl_(ssl), timeouts_(timeouts) {
  // Asked for on every request (the library adds them as headers), so
  // looked up once per connection.
  sockaddr_storage addr{};
  socklen_t length = sizeof addr;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0) {
    Address(addr, length, remote_ip_, remote_port_);
  }
  length = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0) {
    Address(addr, length, local_ip_, local_port_);
  }
}

void TlsStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  ip = remote_ip_;
  port = remote_port_;
}

void TlsStream::get_local_ip_and_port(std::string& ip, int& port) const {
  ip = local_ip_;
  port = local_port_;
}

void TlsStream::BeginRequest() {
  head_done_ = request_line_done_ = line_starts_with_cr_ = false;
  head_bytes_ = header_lines_ = line_bytes_ = 0;
  framing_ = BodyFraming::kNone;
  body_bytes_ = body_read_ = 0;
}

void TlsStream::PlanBody(BodyFraming framing, std::size_t bytes) {
  framing_ = framing;
  body_bytes_ = bytes;
}

void TlsStream::Refuse(int status) {
  if (refusal_ == 0) refusal_ = status;
}

ssize_t TlsStream::read(char* ptr, size_t size) {
  if (refusal_ != 0) return -1;
  if (size == 0) return 0;
  if (!head_done_) return ReadHead(ptr, size);
  if (framing_ == BodyFraming::kNone) return 0;  // no body: the end of it is here
  if (body_read_ >= body_bytes_) {
    if (framing_ == BodyFraming::kLength) return 0;
    Refuse(413);  // a chunked body past the limit
    return -1;
  }
  const ssize_t n = Take(ptr, std::min(size, body_bytes_ - body_read_));
  if (n > 0) body_read_ += static_cast<std::size_t>(n);
  return n;
}

// Gives out head bytes up to the blank line that ends the head, never past
// it: what follows belongs to the body plan.
ssize_t TlsStream::ReadHead(char* ptr, size_t size) {
  if (in_begin_ == in_end_) {
    const ssize_t got = Fill();
    if (got <= 0) return got;
  }
  std::size_t n = 0;
  while (n < size && in_begin_ < in_end_ && !head_done_) {
    const char c = in_[in_begin_++];
    if (!CountHeadByte(c)) {
      Refuse(431);
      return -1;
    }
    ptr[n++] = c;
  }
  return static_cast<ssize_t>(n);
}

// Follows the head as the library reads it: lines end with LF, the first
// is the request line, and a later line that is exactly CR LF ends it.
bool TlsStream::CountHeadByte(char c) {
  if (++head_bytes_ > request_limits::kMaxHeadBytes) return false;
  if (line_bytes_++ == 0) line_starts_with_cr_ = c == '\r';
  if (c != '\n') return true;
  if (!request_line_done_) {
    request_line_done_ = true;
  } else if (line_bytes_ == 2 && line_starts_with_cr_) {
    head_done_ = true;
  } else if (++header_lines_ > request_limits::kMaxHeaderLines) {
    return false;
  }
  line_bytes_ = 0;
  return true;
}

ssize_t TlsStream::Take(char* ptr, size_t size) {
  if (in_begin_ == in_end_) {
    const ssize_t got = Fill();
    if (got <= 0) return got;
  }
  const std::size_t n = std::min(size, in_end_ - in_begin_);
  std::memcpy(ptr, in_ + in_begin_, n);
  in_begin_ += n;
  return static_cast<ssize_t>(n);
}

// Reads the next TLS record's plain text into the buffer, after sending
// what is gathered (the peer may be waiting for it, as for "100 Continue").
ssize_t TlsStream::Fill() {
  if (!Flush()) return -1;
  for (;;) {
    const int n = SSL_read(ssl_, in_, sizeof in_);
    if (n > 0) {
      in_begin_ = 0;
      in_end_ = static_cast<std::size_t>(n);
      return n;
    }
    switch (SSL_get_error(ssl_, n)) {
      case SSL_ERROR_WANT_READ:
        if (!Wait(POLLIN, timeouts_.read)) return -1;
        break;
      case SSL_ERROR_WANT_WRITE:
        if (!Wait(POLLOUT, timeouts_.write)) return -1;
        break;
      case SSL_ERROR_ZERO_RETURN: return 0;  // the peer closed the TLS session
      default: ERR_clear_error(); return -1;
    }
  }
}

ssize_t TlsStream::write(const char* ptr, size_t size) {
  if (refusal_ != 0) return static_cast<ssize_t>(size);  // the library's answer to a refused request
  out_.append(ptr, size);
  if (out_.size() >= kSendAt && !Flush()) return -1;
  return static_cast<ssize_t>(size);
}

bool TlsStream::Flush() {
  while (!out_.empty()) {
    const int n = SSL_write(ssl_, out_.data(), static_cast<int>(std::min<std::size_t>(out_.size(), 1 << 30)));
    if (n > 0) {
      out_.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    const int error = SSL_get_error(ssl_, n);
    const bool waited = (error == SSL_ERROR_WANT_WRITE && Wait(POLLOUT, timeouts_.write)) ||
                        (error == SSL_ERROR_WANT_READ && Wait(POLLIN, timeouts_.read));
    if (!waited) {
      ERR_clear_error();
      out_.clear();
      return false;
    }
  }
  return true;
}

void TlsStream::SendRefusal() {
  out_ = "HTTP/1.1 " + std::to_string(refusal_) + " " + Reason(refusal_) +
         "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  Flush();
}

bool TlsStream::Wait(short events, std::chrono::milliseconds timeout) const {
  pollfd fd{fd_, events, 0};
  int n;
  do {
    n = ::poll(&fd, 1, static_cast<int>(timeout.count()));
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

bool TlsStream::WaitForRequest(std::chrono::seconds timeout, int stop_fd) {
  if (!Flush()) return false;
  if (Buffered()) return true;
  pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_fd, POLLIN, 0}};
  int n;
  do {
    n = ::poll(fds, stop_fd >= 0 ? 2 : 1, static_cast<int>(std::chrono::milliseconds(timeout).count()));
  } while (n < 0 && errno == EINTR);
  return n > 0 && fds[0].revents != 0 && fds[1].revents == 0;
}

}  // namespace vorlink
