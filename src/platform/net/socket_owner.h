#pragma once
// Which user owns the other end of an accepted TCP connection that comes
// from this machine (a loopback client is a socket of a local process).

#include <cstdint>
#include <optional>

namespace vorlink::platform {

enum class OwnerLookup {
  kKernelQuery,  // one exact socket-diagnostics query to the kernel: microseconds
  kSocketTable,  // the kernel's text table of TCP sockets: milliseconds on a busy machine
};

// The uid of the process side of the connection on `fd` (an accepted
// socket): the socket whose local address is our peer's and whose peer is
// our local address. Empty when it cannot be found (the client is gone,
// or the lookup is not available).
std::optional<std::uint32_t> PeerSocketOwner(int fd, OwnerLookup how);

// The kernel query, and the table when the query is not available.
std::optional<std::uint32_t> PeerSocketOwner(int fd);

}  // namespace vorlink::platform
