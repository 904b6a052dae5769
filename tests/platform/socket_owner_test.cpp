// The owner of a loopback connection's client side, as the agent sees it
// from the accepted socket: by the kernel query and by the socket table,
// for clients of several users, over IPv4 and IPv6.

#include "platform/net/socket_owner.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <gtest/gtest.h>

namespace vorlink::platform {
namespace {

struct Listener {
  explicit Listener(int family) : family(family), fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_storage address{};
    socklen_t length = Loopback(address, 0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(fd, 4);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in&>(address).sin_port
                                   : reinterpret_cast<sockaddr_in6&>(address).sin6_port);
  }
  ~Listener() { ::close(fd); }
  socklen_t Loopback(sockaddr_storage& address, int p) const {
    if (family == AF_INET) {
      auto& a = reinterpret_cast<sockaddr_in&>(address);
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<std::uint16_t>(p));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      return sizeof a;
    }
    auto& a = reinterpret_cast<sockaddr_in6&>(address);
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(static_cast<std::uint16_t>(p));
    a.sin6_addr = in6addr_loopback;
    return sizeof a;
  }
  // A child process of user `uid` connects and stays until the accepted
  // socket is closed; returns its pid and the accepted socket.
  std::pair<pid_t, int> ConnectAs(uid_t uid) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (uid != ::geteuid() && (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)) ::_exit(2);
      const int c = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_storage address{};
      const socklen_t length = Loopback(address, port);
      if (::connect(c, reinterpret_cast<sockaddr*>(&address), length) != 0) ::_exit(3);
      char byte;
      while (::read(c, &byte, 1) > 0) {
      }
      ::_exit(0);
    }
    return {pid, ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)};
  }
  int family, fd, port = 0;
};

TEST(PeerSocketOwner, IsTheClientsUserByEitherLookupOverBothFamilies) {
  std::vector<uid_t> users = {::geteuid()};
  if (::geteuid() == 0) users.insert(users.end(), {65534, 1});  // nobody, daemon
  for (int family : {AF_INET, AF_INET6}) {
    Listener listener(family);
    ASSERT_GT(listener.port, 0);
    for (uid_t uid : users) {
      auto [pid, fd] = listener.ConnectAs(uid);
      ASSERT_GE(fd, 0);
      EXPECT_EQ(PeerSocketOwner(fd, OwnerLookup::kKernelQuery), std::optional<std::uint32_t>(uid)) << family;
      EXPECT_EQ(PeerSocketOwner(fd, OwnerLookup::kSocketTable), std::optional<std::uint32_t>(uid)) << family;
      EXPECT_EQ(PeerSocketOwner(fd), std::optional<std::uint32_t>(uid)) << family;
      ::close(fd);
      int status = 0;
      ::waitpid(pid, &status, 0);
      EXPECT_EQ(WEXITSTATUS(status), 0);
    }
  }
  if (::geteuid() != 0) GTEST_SKIP() << "other users' clients need root to start";
}

TEST(PeerSocketOwner, IsUnknownForWhatIsNotALoopbackConnection) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  EXPECT_EQ(PeerSocketOwner(pair[0]), std::nullopt);
  ::close(pair[0]);
  ::close(pair[1]);
  EXPECT_EQ(PeerSocketOwner(-1), std::nullopt);
}

}  // namespace
}  // namespace vorlink::platform
