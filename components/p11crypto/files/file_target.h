#pragma once
// The file a member names, checked and anchored: inside the allowed
// folders, its folder opened without following links. Every file member
// reaches its files through here and then works relative to that folder.

#include <cstdint>
#include <optional>
#include <string>

#include "p11crypto/component_state.h"
#include "p11crypto/files/folder_guard.h"

namespace p11crypto {

// The anchored path, or nullopt after recording why not in `state` and
// `code`: kFileNotAllowed outside the allowed folders (or when a link was
// met on the way), kFileError when its folder cannot be reached.
std::optional<AllowedPath> FileTarget(ComponentState& state, const std::string& path, std::int32_t& code);

// Records a failed file operation: kFileError with the path and the errno
// value's words.
std::int32_t FailFile(ComponentState& state, int error, const std::string& what, const std::filesystem::path& path);

}  // namespace p11crypto
