#pragma once
// Waits for entries to appear or be written in a set of folders (not
// their subfolders), without polling.

#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

namespace vorlink::platform {

class FolderWatch {
 public:
  enum class Wait { kChanged, kTimedOut, kStopped };

  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // False when the system gives no watch at all.
  bool valid() const;
  // Watches exactly these folders from now on (a folder that cannot be
  // watched is left out).
  void WatchOnly(const std::vector<std::filesystem::path>& folders);
  // Until an entry is created, moved in or written in a watched folder,
  // `timeout` passes (negative: no limit) or `stop_fd` becomes readable.
  // Changes that arrived before count.
  Wait WaitForChange(std::chrono::milliseconds timeout, int stop_fd);

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vorlink::platform
