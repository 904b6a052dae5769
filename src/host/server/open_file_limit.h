#pragma once
// Every connection the listener holds costs one file descriptor. A desktop
// session starts programs with a soft limit of 1024 open files, so a
// thousand idle connections ran the agent out of descriptors and a page's
// connection waited in the backlog until idle ones timed out. The HTTP
// library waits with poll(), not select(), so descriptors above 1023 are
// safe to use.

namespace vorlink {

inline constexpr unsigned long kWantedOpenFiles = 65536;

// Raises the soft limit on open files towards the hard limit, to at most
// kWantedOpenFiles; never lowers it. Returns the soft limit in force.
unsigned long RaiseOpenFileLimit();

}  // namespace vorlink
