#include "trust/trust_watcher.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/watch/folder_watch.h"

namespace vorlink {
namespace {

// A profile is made in bursts (folder, times.json, profiles.ini; at a first
// start cert9.db within a second): act once a second has passed quietly,
// and after five seconds at most.
constexpr std::chrono::milliseconds kQuiet{1000};
constexpr std::chrono::seconds kMostSettle{5};
// A profile whose import failed is tried again after this long.
constexpr std::chrono::milliseconds kRetryAfter{2000};

}  // namespace

TrustWatcher::TrustWatcher(DiagnosticLog& log, AgentTrust trust, TrustInstallSettings settings)
    : stop_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      installer_(log, std::move(trust), std::move(settings), RealCertutilRunner(stop_fd_)) {}

TrustWatcher::~TrustWatcher() {
  Stop();
  if (stop_fd_ >= 0) ::close(stop_fd_);
}

void TrustWatcher::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void TrustWatcher::Stop() {
  if (!thread_.joinable()) return;
  ::eventfd_write(stop_fd_, 1);
  thread_.join();
}

void TrustWatcher::Run() {
  using Wait = platform::FolderWatch::Wait;
  platform::FolderWatch watch;
  // Watching starts before the first installation, so a profile made while
  // it runs is not missed.
  watch.WatchOnly(installer_.WatchFolders());
  installer_.InstallEverywhere();
  if (!watch.valid()) return;
  for (;;) {
    watch.WatchOnly(installer_.WatchFolders());
    const auto idle = installer_.HasProfilesToRetry() ? kRetryAfter : std::chrono::milliseconds(-1);
    const Wait first = watch.WaitForChange(idle, stop_fd_);
    if (first == Wait::kStopped) return;
    if (first == Wait::kTimedOut) {
      installer_.InstallNewProfiles();
      continue;
    }
    const auto settle_end = std::chrono::steady_clock::now() + kMostSettle;
    for (;;) {
      watch.WatchOnly(installer_.WatchFolders());  // a new root may have appeared
      const Wait wait = watch.WaitForChange(kQuiet, stop_fd_);
      if (wait == Wait::kStopped) return;
      if (wait == Wait::kTimedOut || std::chrono::steady_clock::now() >= settle_end) break;
    }
    installer_.InstallNewProfiles();
  }
}

}  // namespace vorlink
