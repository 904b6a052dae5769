#pragma once
// Where the running program lives; the agent keeps its module files, the
// manifest and its NSS tools folder beside it.

#include <filesystem>

namespace vorlink::platform {

// The executable's full path (from /proc/self/exe), empty if unknown.
std::filesystem::path ExecutablePath();
std::filesystem::path ExecutableFolder();

}  // namespace vorlink::platform
