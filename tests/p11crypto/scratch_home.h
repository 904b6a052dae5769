#pragma once
// A scratch home folder for the file members: $HOME points into a fresh
// folder while the object lives, beside an "outside" folder that no member
// may touch, holding secret.txt.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/test_paths.h"

namespace vorlink::test {

class ScratchHome {
 public:
  ScratchHome() {
    std::filesystem::create_directories(home());
    std::filesystem::create_directories(outside());
    Write(secret(), kSecret);
    if (const char* old = std::getenv("HOME")) old_home_ = old;
    ::setenv("HOME", home().c_str(), 1);
  }
  ~ScratchHome() {
    if (old_home_) ::setenv("HOME", old_home_->c_str(), 1);
  }

  std::filesystem::path home() const { return scratch_.path() / "home"; }
  std::filesystem::path working() const { return home() / "Vorlink Files"; }
  std::filesystem::path outside() const { return scratch_.path() / "outside"; }
  std::filesystem::path secret() const { return outside() / "secret.txt"; }

  static void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  static constexpr const char* kSecret = "keep me";

 private:
  ScratchDir scratch_;
  std::optional<std::string> old_home_;
};

}  // namespace vorlink::test
