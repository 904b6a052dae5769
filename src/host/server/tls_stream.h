#pragma once
// One TLS connection as the HTTP library reads and writes it
// (httplib::Stream), with the request limits applied as the bytes pass:
// - reads are served from a buffer filled by whole TLS records, so the
//   library's byte-by-byte header reads cost no SSL_read each;
// - the request line and headers ("the head") are counted, and a head over
//   request_limits.h's line or byte limit makes reads fail (431);
// - after the head only the planned body is given out: nothing when the
//   request declared none (so the library answers at once instead of
//   waiting for the connection to close), its Content-Length, or chunked
//   bytes up to the limit (413 beyond);
// - writes are gathered and sent as one TLS record when the library waits
//   for the peer or the request is done;
// - once a request is refused, reads fail and the library's own answer is
//   dropped: the connection writes the refusal itself and ends.
// Waits are bounded by the read and write time-outs, as the library's own.

#include <httplib.h>
#include <openssl/ssl.h>

#include <chrono>
#include <string>

#include "host/server/body_plan.h"

namespace vorlink {

class TlsStream final : public httplib::Stream {
 public:
  struct Timeouts {
    std::chrono::milliseconds read, write;
  };

  // `fd` is non-blocking and `ssl` has completed its handshake on it.
  TlsStream(int fd, SSL* ssl, Timeouts timeouts);

  bool is_readable() const override { return Buffered(); }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return fd_; }

  // Starts a request: its head is counted afresh and no body is given out
  // until PlanBody says what it is.
  void BeginRequest();
  void PlanBody(BodyFraming framing, std::size_t bytes);
  bool HeadComplete() const { return head_done_; }
  // Whether a declared body was left (partly) unread.
  bool BodyLeftUnread() const { return framing_ == BodyFraming::kLength && body_read_ < body_bytes_; }

  // From now on reads fail and writes are dropped; 0 while not refused.
  void Refuse(int status);
  int refusal() const { return refusal_; }

  // Sends what is gathered; false when the peer is gone or too slow.
  bool Flush();
  // Waits up to `timeout` for the next request's first bytes, or until
  // `stop_fd` is readable; true when there are bytes to read.
  bool WaitForRequest(std::chrono::seconds timeout, int stop_fd);
  // Sends the refusal answer of Refuse() (ignoring what was dropped).
  void SendRefusal();

 private:
  bool Buffered() const { return in_begin_ < in_end_ || SSL_pending(ssl_) > 0; }
  ssize_t Fill();
  bool Wait(short events, std::chrono::milliseconds timeout) const;
  ssize_t ReadHead(char* ptr, size_t size);
  bool CountHeadByte(char c);
  ssize_t Take(char* ptr, size_t size);

  const int fd_;
  SSL* const ssl_;
  const Timeouts timeouts_;
  std::string remote_ip_, local_ip_;
  int remote_port_ = -1, local_port_ = -1;

  char in_[16 * 1024];  // one TLS record's plain text at most
  std::size_t in_begin_ = 0, in_end_ = 0;
  std::string out_;

  bool head_done_ = false;
  std::size_t head_bytes_ = 0, header_lines_ = 0, line_bytes_ = 0;
  bool line_starts_with_cr_ = false, request_line_done_ = false;
  BodyFraming framing_ = BodyFraming::kNone;
  std::size_t body_bytes_ = 0, body_read_ = 0;
  int refusal_ = 0;
};

}  // namespace vorlink
