#pragma once
// A component library's C table (components/include/vorlink_component.h):
// loading it, and calling a member with the agent's values. Used in the
// agent for in-process components and in the component host program.

#include <filesystem>
#include <vector>

#include "component/member_table.h"
#include "component/variant.h"
#include "vorlink_component.h"

namespace vorlink {

// Loads `library` (it stays loaded for the life of the process) and returns
// its table, or nullptr when it does not load or the table is unusable.
const vorlink_component_api* LoadComponentApi(const std::filesystem::path& library);

// Calls member `dispid` of `instance`; throws ComponentFault with the
// component's exception text when the call fails.
Variant InvokeComponent(const vorlink_component_api& api, void* instance, int dispid, CallKind kind,
                        const std::vector<Variant>& args);

}  // namespace vorlink
