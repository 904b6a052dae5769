#pragma once
// The browser trust installation's own thread: it installs trust
// everywhere once (certutil runs take a second or two, which start-up
// does not wait for), then watches the Firefox profile roots and trusts
// each profile that appears while the agent runs, a second or two after
// the last change in them settles. A running Firefox takes an import at
// once, so a new profile trusts the agent without a restart.
//
// Owner and rule: the host owns the watcher; the thread alone uses the
// installer, its list of trusted profiles and the inotify descriptor;
// Stop() (from the host's thread) wakes it through an eventfd, kills a
// certutil still running, and joins it.

#include <thread>

#include "trust/browser_trust_installer.h"

namespace vorlink {

class TrustWatcher {
 public:
  TrustWatcher(DiagnosticLog& log, AgentTrust trust, TrustInstallSettings settings);
  ~TrustWatcher();
  TrustWatcher(const TrustWatcher&) = delete;
  TrustWatcher& operator=(const TrustWatcher&) = delete;

  void Start();
  // Returns once the thread has ended. Idempotent.
  void Stop();

 private:
  void Run();

  const int stop_fd_;
  BrowserTrustInstaller installer_;
  std::thread thread_;
};

}  // namespace vorlink
