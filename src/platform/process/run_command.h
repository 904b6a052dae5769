#pragma once
// Runs programs and waits for them: standard input from /dev/null, output
// discarded or captured, and every child reaped.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace vorlink::platform {

using Command = std::vector<std::string>;  // argv; argv[0] found on PATH or by path

// Runs one command and waits for it; returns its exit status or -1.
int RunAndWait(const Command& command);

struct CommandOutput {
  int status = -1;  // exit status; -1 when it could not run, was killed or timed out
  std::string out;  // standard output, at most the limit
};

// Runs one command with its standard output captured (standard error
// discarded). A command still running after `timeout`, or when `stop_fd`
// (if not -1) becomes readable, is killed. Output past `max_bytes` is
// dropped.
CommandOutput RunAndCapture(const Command& command, std::chrono::milliseconds timeout, int stop_fd = -1,
                            std::size_t max_bytes = 1 << 20);

}  // namespace vorlink::platform
