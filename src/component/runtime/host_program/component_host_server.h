#pragma once
// The component host program's work: on the agent's create request it
// loads the component library and creates the instance, then answers
// invoke requests one at a time until the agent closes its end, and
// releases the instance.

namespace vorlink {

// Serves over the connected socket `fd`; returns the process exit status.
int ServeComponent(int fd);

}  // namespace vorlink
