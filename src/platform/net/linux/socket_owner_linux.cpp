// The peer's owner on Linux: NETLINK_SOCK_DIAG answers for exactly one
// socket in a few microseconds; /proc/net/tcp{,6} lists every socket and
// costs milliseconds per read on a machine with many connections, so it
// only stands in where the netlink query is refused.

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/net/socket_owner.h"

namespace vorlink::platform {
namespace {

// The two ends of the accepted connection, as the agent sees them.
struct Ends {
  sockaddr_storage local{};
  sockaddr_storage remote{};
};

bool EndsOf(int fd, Ends& ends) {
  socklen_t n = sizeof ends.local;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ends.local), &n) != 0) return false;
  n = sizeof ends.remote;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&ends.remote), &n) != 0) return false;
  return ends.local.ss_family == ends.remote.ss_family &&
         (ends.local.ss_family == AF_INET || ends.local.ss_family == AF_INET6);
}

enum class Answer { kFound, kNotFound, kUnavailable };

// One netlink socket per thread: a query and its answer share it, and the
// connection threads look owners up in parallel.
class SockDiagQuery {
 public:
  SockDiagQuery() : fd_(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {
    const timeval limit{1, 0};  // the kernel answers at once; never hang a connection on it
    if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~SockDiagQuery() {
    if (fd_ >= 0) ::close(fd_);
  }
  SockDiagQuery(const SockDiagQuery&) = delete;
  SockDiagQuery& operator=(const SockDiagQuery&) = delete;

  // The peer's socket is the one whose source is our remote end and whose
  // destination is our local end. (Asked the other way round, the kernel
  // finds the agent's own accepted socket and answers with the agent's uid.)
  Answer Owner(const Ends& ends, std::uint32_t& uid) {
    if (fd_ < 0) return Answer::kUnavailable;
    struct {
      nlmsghdr header;
      inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;  // no NLM_F_DUMP: one exact socket
    message.header.nlmsg_seq = ++sequence_;
    inet_diag_req_v2& request = message.request;
    request.sdiag_family = static_cast<std::uint8_t>(ends.remote.ss_family);
    request.sdiag_protocol = IPPROTO_TCP;
    request.idiag_states = ~0U;
    request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    if (ends.remote.ss_family == AF_INET) {
      const auto& source = reinterpret_cast<const sockaddr_in&>(ends.remote);
      const auto& destination = reinterpret_cast<const sockaddr_in&>(ends.local);
      request.id.idiag_sport = source.sin_port;
      request.id.idiag_dport = destination.sin_port;
      std::memcpy(request.id.idiag_src, &source.sin_addr, 4);
      std::memcpy(request.id.idiag_dst, &destination.sin_addr, 4);
    } else {
      const auto& source = reinterpret_cast<const sockaddr_in6&>(ends.remote);
      const auto& destination = reinterpret_cast<const sockaddr_in6&>(ends.local);
      request.id.idiag_sport = source.sin6_port;
      request.id.idiag_dport = destination.sin6_port;
      std::memcpy(request.id.idiag_src, &source.sin6_addr, 16);
      std::memcpy(request.id.idiag_dst, &destination.sin6_addr, 16);
    }
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd_, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
        static_cast<ssize_t>(sizeof message)) {
      return Answer::kUnavailable;
    }
    return Read(request, uid);
  }

 private:
  Answer Read(const inet_diag_req_v2& request, std::uint32_t& uid) {
    alignas(nlmsghdr) char buffer[8192];
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Answer::kUnavailable;
      int left = static_cast<int>(n);
      for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
        if (h->nlmsg_seq != sequence_) continue;  // a late answer to an earlier query
        if (h->nlmsg_type == NLMSG_ERROR) {
          const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
          return error->error == -ENOENT ? Answer::kNotFound : Answer::kUnavailable;
        }
        if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY) continue;
        const auto* reply = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
        // The kernel may fall back to a listening socket on the port; only
        // the exact connected four-tuple counts.
        if (reply->idiag_state == TCP_LISTEN || reply->id.idiag_sport != request.id.idiag_sport ||
            reply->id.idiag_dport != request.id.idiag_dport ||
            std::memcmp(reply->id.idiag_src, request.id.idiag_src, sizeof request.id.idiag_src) != 0 ||
            std::memcmp(reply->id.idiag_dst, request.id.idiag_dst, sizeof request.id.idiag_dst) != 0) {
          return Answer::kNotFound;
        }
        uid = reply->idiag_uid;
        return Answer::kFound;
      }
    }
  }

  int fd_;
  std::uint32_t sequence_ = 0;
};

// "0100007F:D431": the table's form of an address (32-bit words in host
// order, as hex) and port.
std::string TableAddress(const sockaddr_storage& address) {
  char text[64];
  if (address.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(address);
    std::snprintf(text, sizeof text, "%08X:%04X", a.sin_addr.s_addr, ntohs(a.sin_port));
  } else {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
    std::uint32_t words[4];
    std::memcpy(words, &a.sin6_addr, sizeof words);
    std::snprintf(text, sizeof text, "%08X%08X%08X%08X:%04X", words[0], words[1], words[2], words[3],
                  ntohs(a.sin6_port));
  }
  return text;
}

// The line whose local and remote columns are the peer's socket; its uid
// column is the 8th field. Reading stops at that line.
Answer TableOwner(const Ends& ends, std::uint32_t& uid) {
  const char* path = ends.remote.ss_family == AF_INET ? "/proc/net/tcp" : "/proc/net/tcp6";
  const std::string key = TableAddress(ends.remote) + " " + TableAddress(ends.local) + " ";
  FILE* table = std::fopen(path, "re");
  if (!table) return Answer::kUnavailable;
  char* line = nullptr;
  std::size_t capacity = 0;
  Answer answer = Answer::kNotFound;
  while (::getline(&line, &capacity, table) > 0) {
    const char* entry = std::strchr(line, ':');  // "  sl: local remote st ..."
    if (!entry || std::strncmp(entry + 2, key.c_str(), key.size()) != 0) continue;
    unsigned state = 0, parsed_uid = 0;
    if (std::sscanf(entry + 2 + key.size(), "%x %*x:%*x %*x:%*x %*x %u", &state, &parsed_uid) == 2 &&
        state != TCP_LISTEN) {
      uid = parsed_uid;
      answer = Answer::kFound;
    }
    break;
  }
  std::free(line);
  std::fclose(table);
  return answer;
}

Answer Lookup(const Ends& ends, OwnerLookup how, std::uint32_t& uid) {
  if (how == OwnerLookup::kSocketTable) return TableOwner(ends, uid);
  thread_local SockDiagQuery query;
  return query.Owner(ends, uid);
}

}  // namespace

std::optional<std::uint32_t> PeerSocketOwner(int fd, OwnerLookup how) {
  Ends ends;
  std::uint32_t uid = 0;
  if (!EndsOf(fd, ends) || Lookup(ends, how, uid) != Answer::kFound) return std::nullopt;
  return uid;
}

std::optional<std::uint32_t> PeerSocketOwner(int fd) {
  Ends ends;
  if (!EndsOf(fd, ends)) return std::nullopt;
  std::uint32_t uid = 0;
  Answer answer = Lookup(ends, OwnerLookup::kKernelQuery, uid);
  if (answer == Answer::kUnavailable) answer = Lookup(ends, OwnerLookup::kSocketTable, uid);
  if (answer != Answer::kFound) return std::nullopt;
  return uid;
}

}  // namespace vorlink::platform
