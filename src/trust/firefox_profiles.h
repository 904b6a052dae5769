#pragma once
// Finds the user's Firefox profiles: every profile folder under each root
// Firefox (plain, snap or flatpak) keeps them in, and any profile that a
// root's profiles.ini lists by absolute path elsewhere.

#include <filesystem>
#include <string>
#include <vector>

namespace vorlink {

// Every folder Firefox (plain, snap or Flatpak) may keep profiles in, for
// a user with this home folder and XDG_CONFIG_HOME (empty for the default
// ~/.config), whether it exists or not.
std::vector<std::filesystem::path> FirefoxRoots(const std::filesystem::path& home, const std::string& xdg_config_home);

// Those of them that exist.
std::vector<std::filesystem::path> ExistingFirefoxRoots(const std::filesystem::path& home,
                                                        const std::string& xdg_config_home);

// Profiles under the roots, without duplicates, in a stable order. A folder
// counts only when it holds a profile's own files (prefs.js, times.json,
// cert9.db) or profiles.ini lists it, so folders such as "Crash Reports"
// beside the profiles are left alone. Names beginning with "." never count.
std::vector<std::filesystem::path> FindFirefoxProfiles(const std::vector<std::filesystem::path>& roots);

}  // namespace vorlink
