#pragma once
// The NSS databases that Chromium, Chrome and most other Linux browsers
// besides Firefox read certificates from, for one user: the native ones
// and those of snap and Flatpak packages.
//
// Chromium reads ~/.pki/nssdb when that folder exists (even empty) and
// ${XDG_DATA_HOME:-~/.local/share}/pki/nssdb otherwise, creating it on
// its first start; it never reads both. A sandboxed package applies the
// same rule inside its own home (snap: ~/snap/<name>/current; Flatpak:
// ~/.var/app/<id>, whose XDG_DATA_HOME is data/ there).

#include <filesystem>
#include <string>
#include <vector>

namespace vorlink {

// Every database folder that exists, in each home that exists (the user's
// own always does). A home with none gets the XDG one, which is what a
// current Chromium would make there; ~/.pki/nssdb is never made, since it
// would hide the XDG database (and what the user keeps in it) from
// Chromium.
std::vector<std::filesystem::path> BrowserNssDatabases(const std::filesystem::path& home,
                                                       const std::string& xdg_data_home);

}  // namespace vorlink
