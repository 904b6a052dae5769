#include "support/free_ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <random>

namespace vorlink::test {
namespace {

int ListenOn(const char* address, int port) {
  const bool v6 = std::strchr(address, ':') != nullptr;
  const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  if (v6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  sockaddr_storage storage{};
  socklen_t len;
  if (v6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET6, address, &a->sin6_addr);
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &a->sin_addr);
    len = sizeof *a;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), len) != 0 || ::listen(fd, 5) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool FreeOnBoth(int port) {
  for (const char* address : {"127.0.0.1", "::1"}) {
    const int fd = ListenOn(address, port);
    if (fd < 0) return false;
    ::close(fd);
  }
  return true;
}

}  // namespace

std::vector<int> FreePorts(int count) {
  // Spread test processes over a range far from the agent's own ports.
  static std::atomic<int> next{[] {
    std::random_device rd;
    return 20000 + static_cast<int>(rd() % 20000);
  }()};
  for (;;) {
    const int first = next.fetch_add(count);
    if (first + count > 60000) next = 20000;
    bool ok = true;
    for (int p = first; p < first + count && ok; ++p) ok = FreeOnBoth(p);
    if (ok) {
      std::vector<int> ports;
      for (int p = first; p < first + count; ++p) ports.push_back(p);
      return ports;
    }
  }
}

PortHolder::PortHolder(const char* address, int port) : fd_(ListenOn(address, port)) {}
PortHolder::~PortHolder() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace vorlink::test
