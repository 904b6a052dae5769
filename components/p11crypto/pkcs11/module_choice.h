#pragma once
// Which PKCS#11 library the module name a page gives Initialize stands for.
// Any web page can call Initialize, and loading a library runs its code, so
// a page may only name
//  - nothing, or a Windows library name ending in ".dll": the p11-kit proxy,
//    which reaches every registered token module;
//  - a module registered with p11-kit system-wide, by its registered name
//    (the name of its ".module" file, e.g. "softhsm2") or by the library
//    path its registration gives;
//  - a library path that an administrator listed in the allow-list.
// Anything else is refused. The decision reads only p11-kit's registration
// files and the allow-list: the path a page names is never opened, looked
// at or loaded before it is found there.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace p11crypto {

struct ModuleSources {
  // p11-kit's folders of system-wide ".module" files, the one that wins
  // for a name first (the administrator's before the packages').
  std::vector<std::filesystem::path> registrations;
  // Where a registration's relative "module:" path is found.
  std::filesystem::path module_folder;
  // The administrator's allow-list folder: every "*.list" file in it holds
  // absolute library paths, one per line ('#' starts a comment). The
  // folder and each file must belong to root and be writable by no one
  // else, or they are ignored.
  std::filesystem::path allow_lists;
};

// p11-kit's folders as it was built, and /etc/vorlink45 (or the folder
// VORLINK_MODULE_ALLOW_DIR names: tests use it).
ModuleSources SystemModuleSources();

// The proxy's library name.
inline constexpr const char* kProxyModule = "p11-kit-proxy.so";

// The library to load for `name`, or nullopt when the name is refused.
std::optional<std::string> ChooseModuleLibrary(const std::string& name, const ModuleSources& sources);

}  // namespace p11crypto
