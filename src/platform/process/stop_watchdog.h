#pragma once
// The last resort behind a stop signal: SIGTERM, SIGINT and SIGHUP must end
// the agent within five seconds, whatever is shown or running. The agent
// starts the watchdog when it reads the signal and then runs its normal
// shutdown order; should that not be over when the budget is spent (a
// dialog that does not close, a call into a module that never returns),
// the watchdog ends the process. Its component host processes end with it
// (they ask for SIGKILL when the agent dies).

#include <chrono>

namespace vorlink::platform {

// What a stop signal leaves the agent: half a second less than the five
// seconds promised, for the process's own exit.
inline constexpr std::chrono::milliseconds kStopBudget{4500};

// Ends the process with status 0 once `budget` has passed, unless it has
// ended by then. Starting it again changes nothing.
void StartStopWatchdog(std::chrono::milliseconds budget = kStopBudget);

}  // namespace vorlink::platform
