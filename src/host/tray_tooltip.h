#pragma once
// The tray icon's tooltip: the product and its version, the same name the
// About box shows. Written in the agent's own Traditional Chinese; the
// desktop shows it in the windows' language.

#include <string>

namespace vorlink {

// "NESTO Zanthe - 版本 : <version>", UTF-8.
std::string TrayTooltip();

}  // namespace vorlink
