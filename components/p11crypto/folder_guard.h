#pragma once
// Decides which paths the file members may touch. Any web page can call the
// component through the agent, so file work is confined to the user's
// working folder (~/Vorlink Files, created on first use) and to the folders
// and files the user picked in this instance's dialogs. A relative path is
// taken inside the working folder.

#include <filesystem>
#include <optional>
#include <vector>

namespace p11crypto {

class FolderGuard {
 public:
  FolderGuard();  // the working folder from $HOME
  explicit FolderGuard(std::filesystem::path working_folder);

  const std::filesystem::path& working_folder() const { return working_folder_; }

  void AllowFolder(const std::filesystem::path& folder);
  void AllowFile(const std::filesystem::path& file);

  // The absolute, symlink-resolved path when `path` lies inside an allowed
  // folder (or is an allowed file); nullopt otherwise. The path need not
  // exist yet, but no part of it may lead outside through a link.
  std::optional<std::filesystem::path> Resolve(const std::filesystem::path& path) const;

 private:
  std::filesystem::path working_folder_;
  std::vector<std::filesystem::path> folders_;  // resolved
  std::vector<std::filesystem::path> files_;    // resolved
};

}  // namespace p11crypto
