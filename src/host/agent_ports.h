#pragma once
// The ports the agent serves on, tried in this order. Browser trust is
// written for the same list (the host hands it down).

#include <vector>

namespace vorlink {

inline const std::vector<int> kAgentPorts = {48200, 48201, 48202};

}  // namespace vorlink
