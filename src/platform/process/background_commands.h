#pragma once
// Runs programs without making the caller wait: each batch of commands runs
// in order on a background thread, with output discarded, and every child
// is reaped so none is left as a zombie.

#include <string>
#include <vector>

namespace vorlink::platform {

using Command = std::vector<std::string>;  // argv; argv[0] found on PATH or by path

void RunInBackground(std::vector<Command> commands);

// Runs one command and waits for it; returns its exit status or -1.
int RunAndWait(const Command& command);

}  // namespace vorlink::platform
