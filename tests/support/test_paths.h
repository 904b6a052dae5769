#pragma once
// Files of the source tree and scratch folders for tests.

#include <filesystem>
#include <string>

namespace vorlink::test {

std::filesystem::path SourcePath(const std::string& relative);

// The whole file as bytes; empty when it cannot be read.
std::string ReadFileText(const std::filesystem::path& path);

// A fresh empty folder, removed with everything in it on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace vorlink::test
