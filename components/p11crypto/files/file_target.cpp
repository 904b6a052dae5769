#include "p11crypto/files/file_target.h"

#include <system_error>

namespace p11crypto {

std::int32_t FailFile(ComponentState& state, int error, const std::string& what, const std::filesystem::path& path) {
  return Fail(state, kFileError, what + " " + path.string() + ": " + std::generic_category().message(error));
}

std::optional<AllowedPath> FileTarget(ComponentState& state, const std::string& path, std::int32_t& code) {
  int error = 0;
  auto target = state.folders.Open(path, error);
  if (!target) {
    code = Fail(state, kFileNotAllowed, "\"" + path + "\" is outside the working folder and the folders chosen here");
  } else if (error) {
    code = FailFile(state, error, "cannot reach the folder of", target->path);
    return std::nullopt;
  }
  return target;
}

}  // namespace p11crypto
