#pragma once
// The C table of host services that components receive at creation, backed
// by a ComponentHostServices object.

#include "component/component_host_services.h"
#include "vorlink_component.h"

namespace vorlink {

// `services` may be null (every dialog cancelled); it must outlive the table.
vorlink_host_services MakeHostServicesTable(ComponentHostServices* services);

}  // namespace vorlink
