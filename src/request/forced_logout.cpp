#include "request/forced_logout.h"

#include "component/component_wrapper.h"
#include "component/member_table.h"
#include "log/diagnostic_log.h"
#include "request/answer.h"

namespace vorlink {

void ForceLogout(DiagnosticLog& log, ComponentWrapper& wrapper) {
  std::int32_t status = kCodeNotRun;
  try {
    wrapper.InvokeMember(*FindMemberByDispid(kDispidLogout), ArgumentArray{}, status);
  } catch (const ComponentFault&) {
    // The result is not looked at beyond its status; the wrapper goes anyway.
  }
  log.LogDebug("強制 Logout()", status);
}

}  // namespace vorlink
