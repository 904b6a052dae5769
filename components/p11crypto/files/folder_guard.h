#pragma once
// Decides which paths the file members may touch. Any web page can call the
// component through the agent, so file work is confined to the user's
// working folder (~/Vorlink Files, created with mode 0700 on first use) and
// to the folders and files the user picked in this instance's dialogs. A
// relative path is taken inside the working folder. An allowed folder
// itself is not a target: only what lies inside it.
//
// Checking a path and then opening it by name would let a folder on the way
// be swapped for a link in between. Open therefore hands back the
// containing folder opened component by component without following links,
// and the members work relative to that descriptor.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "p11crypto/files/unique_fd.h"

namespace p11crypto {

// An allowed path, anchored: `folder` is its containing folder, reached
// without following any link, and `name` the last component.
struct AllowedPath {
  std::filesystem::path path;  // absolute, without links, "." or ".."
  UniqueFd folder;
  std::string name;
};

class FolderGuard {
 public:
  FolderGuard();  // the working folder in the user's home
  explicit FolderGuard(std::filesystem::path working_folder);

  // The working folder, created if missing.
  std::filesystem::path WorkingFolder() const;

  // Adds an existing folder (a regular file); false when there is none.
  bool AllowFolder(const std::filesystem::path& folder);
  bool AllowFile(const std::filesystem::path& file);

  // The absolute, link-free path when `path` lies inside an allowed folder
  // (or is an allowed file); nullopt otherwise. The path need not exist
  // yet, but no existing part of it may be a link that leads outside or
  // nowhere.
  std::optional<std::filesystem::path> Resolve(const std::filesystem::path& path) const;

  // Resolve, then open the containing folder. nullopt when the path is not
  // allowed or its folder cannot be reached without following a link. When
  // the folder cannot be opened for another reason (it does not exist), the
  // answer has no folder and `error` holds the errno value.
  std::optional<AllowedPath> Open(const std::filesystem::path& path, int& error) const;

 private:
  std::filesystem::path working_folder_;
  std::vector<std::filesystem::path> folders_;  // resolved
  std::vector<std::filesystem::path> files_;    // resolved
};

}  // namespace p11crypto
