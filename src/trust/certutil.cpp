#include "trust/certutil.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace vorlink {
namespace fs = std::filesystem;

std::optional<std::string> FindCertutil(const fs::path& tools_folder) {
  const fs::path shipped = tools_folder / "certutil";
  if (::access(shipped.c_str(), X_OK) == 0) return shipped.string();
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const fs::path candidate = fs::path(dir.empty() ? "." : dir) / "certutil";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return std::nullopt;
}

platform::Command ImportCaCommand(const std::string& certutil, const fs::path& ca_file, const std::string& database) {
  return {certutil, "-A", "-n", kCaNickname, "-i", ca_file.string(), "-t", kCaTrustFlags, "-d", database};
}

}  // namespace vorlink
