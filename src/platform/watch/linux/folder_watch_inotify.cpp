// FolderWatch on inotify: one watch descriptor per folder, events read and
// dropped (the caller looks again at what it cares about).

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "platform/watch/folder_watch.h"

namespace vorlink::platform {

class FolderWatch::Impl {
 public:
  int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  std::map<std::filesystem::path, int> watches;
};

FolderWatch::FolderWatch() : impl_(std::make_unique<Impl>()) {}

FolderWatch::~FolderWatch() {
  if (impl_->fd >= 0) ::close(impl_->fd);
}

bool FolderWatch::valid() const { return impl_->fd >= 0; }

void FolderWatch::WatchOnly(const std::vector<std::filesystem::path>& folders) {
  if (impl_->fd < 0) return;
  std::map<std::filesystem::path, int> kept;
  for (const auto& folder : folders) {
    // Adding a watch again for the same folder returns the same descriptor.
    const int wd = ::inotify_add_watch(impl_->fd, folder.c_str(),
                                       IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ONLYDIR | IN_DONT_FOLLOW);
    if (wd >= 0) kept[folder] = wd;
  }
  for (const auto& [folder, wd] : impl_->watches) {
    bool still = false;
    for (const auto& [k, kwd] : kept) still = still || kwd == wd;
    if (!still) ::inotify_rm_watch(impl_->fd, wd);
  }
  impl_->watches = std::move(kept);
}

FolderWatch::Wait FolderWatch::WaitForChange(std::chrono::milliseconds timeout, int stop_fd) {
  if (impl_->fd < 0) return Wait::kStopped;
  for (;;) {
    pollfd fds[2] = {{impl_->fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    const int ready = ::poll(fds, stop_fd >= 0 ? 2 : 1, timeout.count() < 0 ? -1 : static_cast<int>(timeout.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (stop_fd >= 0 && (fds[1].revents & POLLIN))) return Wait::kStopped;
    if (ready == 0) return Wait::kTimedOut;
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    while (::read(impl_->fd, buffer, sizeof buffer) > 0) changed = true;
    if (changed) return Wait::kChanged;
  }
}

}  // namespace vorlink::platform
