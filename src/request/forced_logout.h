#pragma once
// The Logout the agent makes on its own before it discards a component
// (idle timeout, shutdown). Its result is only logged.

namespace vorlink {

class ComponentWrapper;
class DiagnosticLog;

// Calls the component's Logout and writes "強制 Logout()" with the call's
// status: 0 when it was made, -1 when the instance was never created. A
// failing component is not an error here: the wrapper goes either way.
void ForceLogout(DiagnosticLog& log, ComponentWrapper& wrapper);

}  // namespace vorlink
