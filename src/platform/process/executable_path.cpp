#include "platform/process/executable_path.h"

namespace vorlink::platform {

std::filesystem::path ExecutablePath() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : path;
}

std::filesystem::path ExecutableFolder() { return ExecutablePath().parent_path(); }

}  // namespace vorlink::platform
