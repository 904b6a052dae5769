#include "p11crypto/folder_guard.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace p11crypto {
namespace fs = std::filesystem;
namespace {

fs::path DefaultWorkingFolder() {
  const char* home = std::getenv("HOME");
  return fs::path(home && *home == '/' ? home : "/tmp") / "Vorlink Files";
}

// Resolves every link in the existing part of the path; the rest is
// normalised lexically (no "..").
std::optional<fs::path> Canonical(const fs::path& path) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(path, error);
  if (error) return std::nullopt;
  return resolved.lexically_normal();
}

bool IsInside(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // a trailing separator
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

}  // namespace

FolderGuard::FolderGuard() : FolderGuard(DefaultWorkingFolder()) {}

FolderGuard::FolderGuard(fs::path working_folder) : working_folder_(std::move(working_folder)) {}

void FolderGuard::AllowFolder(const fs::path& folder) {
  if (auto resolved = Canonical(folder)) folders_.push_back(*resolved);
}

void FolderGuard::AllowFile(const fs::path& file) {
  if (auto resolved = Canonical(file)) files_.push_back(*resolved);
}

std::optional<fs::path> FolderGuard::Resolve(const fs::path& path) const {
  if (path.empty()) return std::nullopt;
  std::error_code error;
  fs::create_directories(working_folder_, error);
  const auto resolved = Canonical(path.is_absolute() ? path : working_folder_ / path);
  if (!resolved) return std::nullopt;
  if (std::find(files_.begin(), files_.end(), *resolved) != files_.end()) return resolved;
  if (const auto working = Canonical(working_folder_); working && IsInside(*resolved, *working)) return resolved;
  for (const fs::path& folder : folders_) {
    if (IsInside(*resolved, folder)) return resolved;
  }
  return std::nullopt;
}

}  // namespace p11crypto
