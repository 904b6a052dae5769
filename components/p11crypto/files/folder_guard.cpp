#include "p11crypto/files/folder_guard.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace p11crypto {
namespace fs = std::filesystem;
namespace {

// $HOME when it is an absolute path, else the account's home folder. Never
// a shared folder such as /tmp, where another user could plant the folder.
fs::path HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return home;
  const passwd* account = ::getpwuid(::getuid());
  return account && account->pw_dir ? account->pw_dir : "/nonexistent";
}

bool HasLink(const fs::path& path) {
  fs::path prefix;
  for (const fs::path& part : path) {
    prefix /= part;
    struct stat info {};
    if (::lstat(prefix.c_str(), &info) != 0) return false;  // the rest does not exist yet
    if (S_ISLNK(info.st_mode)) return true;
  }
  return false;
}

// Resolves every link in the existing part of the path and normalises the
// rest lexically. A link that remains (one that leads nowhere) is refused:
// creating a file through it would create its target, wherever that is.
std::optional<fs::path> Canonical(const fs::path& path) {
  if (path.native().find('\0') != std::string::npos) return std::nullopt;  // the kernel would cut it there
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(path, error).lexically_normal();
  if (error || !resolved.is_absolute()) return std::nullopt;
  if (!resolved.has_filename() && resolved != resolved.root_path()) resolved = resolved.parent_path();
  if (HasLink(resolved)) return std::nullopt;
  return resolved;
}

// True when `path` lies below `folder` (not when it is the folder itself).
bool IsInside(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // a trailing separator
    if (p == path.end() || *p != *f) return false;
  }
  return p != path.end() && !p->empty();
}

// The folder `parent` opened by walking from the root one component at a
// time, never following a link. `linked` tells a link met on the way (the
// path changed since it was checked) from an ordinary failure.
UniqueFd OpenFolder(const fs::path& parent, bool& linked) {
  linked = false;
  UniqueFd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  for (const fs::path& part : parent.relative_path()) {
    if (!folder) return {};
    if (part.empty()) continue;
    if (part == "." || part == "..") {
      linked = true;
      return {};
    }
    const int next = ::openat(folder.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      const int failure = errno;
      struct stat info {};
      linked = failure == ELOOP ||
               (::fstatat(folder.get(), part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode));
      errno = failure;
      return {};
    }
    folder = UniqueFd(next);
  }
  // Readable when permitted, so that the folder can be synced after a rename.
  const int readable = folder ? ::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  return readable >= 0 ? UniqueFd(readable) : std::move(folder);
}

}  // namespace

FolderGuard::FolderGuard() : FolderGuard(HomeFolder() / "Vorlink Files") {}

FolderGuard::FolderGuard(fs::path working_folder) : working_folder_(std::move(working_folder)) {}

fs::path FolderGuard::WorkingFolder() const {
  ::mkdir(working_folder_.c_str(), 0700);  // EEXIST is the usual answer
  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(working_folder_, error);
  return error ? working_folder_ : resolved;
}

bool FolderGuard::AllowFolder(const fs::path& folder) {
  std::error_code error;
  const auto resolved = folder.is_absolute() ? Canonical(folder) : std::nullopt;
  if (!resolved || !fs::is_directory(*resolved, error)) return false;
  folders_.push_back(*resolved);
  return true;
}

bool FolderGuard::AllowFile(const fs::path& file) {
  std::error_code error;
  const auto resolved = file.is_absolute() ? Canonical(file) : std::nullopt;
  if (!resolved || !fs::is_regular_file(*resolved, error)) return false;
  files_.push_back(*resolved);
  return true;
}

std::optional<fs::path> FolderGuard::Resolve(const fs::path& path) const {
  if (path.empty()) return std::nullopt;
  const fs::path working = WorkingFolder();
  const auto resolved = Canonical(path.is_absolute() ? path : working / path);
  if (!resolved) return std::nullopt;
  if (std::find(files_.begin(), files_.end(), *resolved) != files_.end()) return resolved;
  if (const auto folder = Canonical(working); folder && IsInside(*resolved, *folder)) return resolved;
  for (const fs::path& folder : folders_) {
    if (IsInside(*resolved, folder)) return resolved;
  }
  return std::nullopt;
}

std::optional<AllowedPath> FolderGuard::Open(const fs::path& path, int& error) const {
  error = 0;
  auto resolved = Resolve(path);
  if (!resolved) return std::nullopt;
  bool linked = false;
  UniqueFd folder = OpenFolder(resolved->parent_path(), linked);
  if (linked) return std::nullopt;
  if (!folder) error = errno ? errno : ENOENT;
  std::string name = resolved->filename();
  return AllowedPath{std::move(*resolved), std::move(folder), std::move(name)};
}

}  // namespace p11crypto
