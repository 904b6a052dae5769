#include "host/server/tls_connection.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "host/server/body_plan.h"

namespace vorlink {
namespace {

// After a refusal the client may still be sending; what arrives is read
// and dropped for this long, so that closing does not reset the
// connection before the client has read the refusal.
constexpr std::chrono::milliseconds kLinger{1000};

bool Wait(int fd, short events, std::chrono::milliseconds timeout) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

bool Handshake(SSL* ssl, int fd, const TlsStream::Timeouts& timeouts) {
  for (;;) {
    const int result = SSL_accept(ssl);
    if (result == 1) return true;
    const int error = SSL_get_error(ssl, result);
    if ((error == SSL_ERROR_WANT_READ && Wait(fd, POLLIN, timeouts.read)) ||
        (error == SSL_ERROR_WANT_WRITE && Wait(fd, POLLOUT, timeouts.write))) {
      continue;
    }
    ERR_clear_error();
    return false;
  }
}

void DrainUntilClosed(int fd) {
  ::shutdown(fd, SHUT_WR);
  const auto deadline = std::chrono::steady_clock::now() + kLinger;
  char scratch[16 * 1024];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !Wait(fd, POLLIN, left)) return;
    const ssize_t n = ::recv(fd, scratch, sizeof scratch, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
  }
}

// One connection's requests; true when it ended in good order.
class Conversation {
 public:
  Conversation(int fd, SSL* ssl, const ConnectionSettings& settings, BodyBudget& budget)
      : ssl_(ssl), stream_(fd, ssl, settings.timeouts), settings_(settings), budget_(budget) {}

  bool Run(const RequestProcessor& process, int stop_fd) {
    for (std::size_t count = 1; count <= settings_.max_requests; ++count) {
      if (!stream_.WaitForRequest(settings_.keep_alive, stop_fd)) return true;
      stream_.BeginRequest();
      bool closed = false;
      close_after_ = false;
      const bool handled = process(stream_, count == settings_.max_requests, closed,
                                   [this](httplib::Request& request) { Admit(request); });
      budget_.Give(taken_);
      taken_ = 0;
      if (stream_.refusal() != 0) {
        stream_.SendRefusal();
        return false;
      }
      if (!stream_.Flush() || !handled) return false;
      // A head or body left half read cannot be told from the next request.
      if (closed || close_after_) return true;
      if (!stream_.HeadComplete() || stream_.BodyLeftUnread()) return false;
    }
    return true;
  }

  bool Refused() const { return stream_.refusal() != 0; }

 private:
  // Runs when the headers are read: decides what of the body may be read.
  void Admit(httplib::Request& request) {
    request.ssl = ssl_;
    const BodyPlan plan = PlanBody(request);
    if (plan.refusal != 0) return stream_.Refuse(plan.refusal);
    if (!plan.read) {
      close_after_ = plan.framing != BodyFraming::kNone;
      return;
    }
    if (plan.bytes > 0 && !budget_.TryTake(plan.bytes)) return stream_.Refuse(503);
    taken_ = plan.bytes;
    if (plan.framing == BodyFraming::kLength) request.body.reserve(plan.bytes);  // no regrowth while it arrives
    stream_.PlanBody(plan.framing, plan.bytes);
  }

  SSL* const ssl_;
  TlsStream stream_;
  const ConnectionSettings& settings_;
  BodyBudget& budget_;
  std::size_t taken_ = 0;
  bool close_after_ = false;
};

}  // namespace

void ServeTlsConnection(int fd, SSL_CTX* context, const ConnectionSettings& settings, BodyBudget& budget,
                        const RequestProcessor& process, int stop_fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  SSL* ssl = SSL_new(context);
  if (ssl != nullptr && SSL_set_fd(ssl, fd) == 1 && Handshake(ssl, fd, settings.timeouts)) {
    Conversation conversation(fd, ssl, settings, budget);
    const bool orderly = conversation.Run(process, stop_fd);
    if (orderly || conversation.Refused()) SSL_shutdown(ssl);
    if (conversation.Refused()) DrainUntilClosed(fd);
  }
  ERR_clear_error();
  SSL_free(ssl);
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
}

}  // namespace vorlink
