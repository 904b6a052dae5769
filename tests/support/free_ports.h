#pragma once
// Ports for tests that start real servers, so that tests run beside each
// other and beside an agent that may already hold 48200..48202.

#include <vector>

namespace vorlink::test {

// `count` consecutive ports free on both 127.0.0.1 and ::1 right now.
std::vector<int> FreePorts(int count);

// A listening TCP socket on one loopback address; closed on destruction.
class PortHolder {
 public:
  PortHolder(const char* address, int port);
  ~PortHolder();
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;
  bool holding() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace vorlink::test
