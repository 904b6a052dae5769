#pragma once
// The test program's own child processes, read from /proc.

#include <sys/types.h>

#include <vector>

namespace vorlink::test {

// Children of this process that have exited but were never reaped.
int ZombieChildren();

// Children of this process that have not exited.
std::vector<pid_t> LiveChildren();

// Whether `pid` still names a process (a zombie counts).
bool ProcessExists(pid_t pid);

}  // namespace vorlink::test
