#pragma once
// The tray icon's tooltip: product, program name and version.

#include <filesystem>
#include <string>

namespace vorlink {

// "NESTO Zanthe - (<name>.exe) - 版本 : <version>", UTF-8.
std::string TrayTooltip(const std::filesystem::path& executable);

}  // namespace vorlink
