// An exclusive flock on a file in the user's runtime folder. The lock goes
// with the open file: it ends when the agent closes it or dies, and
// O_CLOEXEC keeps it from leaking into a successor or any child.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/single_instance/single_instance_lock.h"

namespace vorlink::platform {
namespace {

// $XDG_RUNTIME_DIR, or a private folder under /tmp owned by this user.
std::string LockFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return runtime;
  const std::string folder = "/tmp/vorlink-" + std::to_string(::getuid());
  ::mkdir(folder.c_str(), 0700);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return {};
  ::chmod(folder.c_str(), 0700);
  return folder;
}

std::string LockName(const std::string& executable_name) {
  std::string name = executable_name;
  if (const char* session = std::getenv("XDG_SESSION_ID"); session && *session) name += "." + std::string(session);
  return name + ".lock";
}

}  // namespace

class SingleInstanceLock::Impl {
 public:
  int fd = -1;
};

SingleInstanceLock::SingleInstanceLock(const std::string& executable_name) : impl_(std::make_unique<Impl>()) {
  const std::string folder = LockFolder();
  if (folder.empty()) return;
  const std::string path = folder + "/" + LockName(executable_name);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  impl_->fd = fd;
}

SingleInstanceLock::~SingleInstanceLock() { Release(); }

bool SingleInstanceLock::held() const { return impl_->fd >= 0; }

void SingleInstanceLock::Release() {
  if (impl_->fd < 0) return;
  ::close(impl_->fd);
  impl_->fd = -1;
}

}  // namespace vorlink::platform
