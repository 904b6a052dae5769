#include "p11crypto/pkcs11/module_choice.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "p11crypto/files/unique_fd.h"

namespace p11crypto {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kMaxConfigBytes = 64 << 10;

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.rbegin(), suffix.rend(), text.rbegin(), [](char suffix_char, char text_char) {
    return std::tolower(static_cast<unsigned char>(text_char)) == suffix_char;
  });
}

std::string Trim(std::string s) {
  const char* space = " \t\r\n";
  s.erase(0, s.find_first_not_of(space));
  s.erase(s.find_last_not_of(space) + 1);
  return s;
}

// A name p11-kit accepts for a ".module" file: letters, digits, '_', '-'
// and '.'.
bool IsModuleName(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
  });
}

// A small configuration file's text, read from `folder` without following
// a link; `root_only` also requires a file of root's that only root may
// change. Empty when it cannot be read or fails the checks.
std::string ReadConfig(int folder, const std::string& name, bool root_only) {
  UniqueFd fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  if (info.st_size > static_cast<off_t>(kMaxConfigBytes)) return {};
  if (root_only && (info.st_uid != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)) return {};
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  const ssize_t got = ::read(fd.get(), text.data(), text.size());
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

// The files of a folder whose names end in `suffix`, each read as above.
std::vector<std::pair<std::string, std::string>> ReadConfigs(const fs::path& folder, const std::string& suffix,
                                                             bool root_only) {
  std::vector<std::pair<std::string, std::string>> files;
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0) return files;
  if (root_only && (info.st_uid != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)) return files;
  DIR* listing = ::fdopendir(::dup(fd.get()));
  if (!listing) return files;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() > suffix.size() && name.ends_with(suffix)) {
      files.emplace_back(name.substr(0, name.size() - suffix.size()), ReadConfig(fd.get(), name, root_only));
    }
  }
  ::closedir(listing);
  std::sort(files.begin(), files.end());
  return files;
}

// The "module:" value of a p11-kit registration, made absolute.
std::optional<std::string> RegisteredLibrary(const std::string& text, const fs::path& module_folder) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const auto colon = line.find(':');
    if (line.starts_with('#') || colon == std::string::npos || Trim(line.substr(0, colon)) != "module") continue;
    const fs::path library = Trim(line.substr(colon + 1));
    if (library.empty()) return std::nullopt;
    return (library.is_absolute() ? library : module_folder / library).string();
  }
  return std::nullopt;
}

std::optional<std::string> FromRegistrations(const std::string& name, const ModuleSources& sources) {
  std::vector<std::string> seen;
  for (const fs::path& folder : sources.registrations) {
    for (const auto& [module, text] : ReadConfigs(folder, ".module", false)) {
      if (!IsModuleName(module) || std::find(seen.begin(), seen.end(), module) != seen.end()) continue;
      seen.push_back(module);  // the first folder with a name wins
      const auto library = RegisteredLibrary(text, sources.module_folder);
      if (library && (name == module || name == *library)) return library;
    }
  }
  return std::nullopt;
}

bool InAllowLists(const std::string& name, const fs::path& folder) {
  if (!fs::path(name).is_absolute()) return false;
  for (const auto& [list, text] : ReadConfigs(folder, ".list", true)) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (const std::string entry = Trim(line); !entry.starts_with('#') && entry == name) return true;
    }
  }
  return false;
}

}  // namespace

ModuleSources SystemModuleSources() {
  const char* allow = std::getenv("VORLINK_MODULE_ALLOW_DIR");
  return {{P11CRYPTO_P11KIT_SYSTEM_MODULES, P11CRYPTO_P11KIT_PACKAGE_MODULES},
          P11CRYPTO_P11KIT_MODULE_PATH,
          allow && *allow == '/' ? allow : "/etc/vorlink45"};
}

std::optional<std::string> ChooseModuleLibrary(const std::string& name, const ModuleSources& sources) {
  if (name.empty() || EndsWithNoCase(name, ".dll")) return kProxyModule;
  if (name.find('\0') != std::string::npos) return std::nullopt;
  if (auto library = FromRegistrations(name, sources)) return library;
  if (InAllowLists(name, sources.allow_lists)) return name;
  return std::nullopt;
}

}  // namespace p11crypto
