#pragma once
// Facts about the agent's own process that the application object needs.

#include <filesystem>
#include <string>
#include <vector>

namespace vorlink::platform {

// True unless "NOTRAY" appears, in any letter case, anywhere in the
// arguments after the program name (joined with spaces), also inside a
// longer word.
bool ShowTrayFromArguments(const std::vector<std::string>& arguments);

// 1 when the process runs with root's effective user id, else 0.
int IsProcessElevated();

// Starts `executable` with no arguments and does not wait for it; a
// failure to start is ignored.
void StartSuccessor(const std::filesystem::path& executable);

}  // namespace vorlink::platform
