#include "p11crypto/files/atomic_output.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace p11crypto {

AtomicOutput::AtomicOutput(std::filesystem::path final_path) : final_path_(std::move(final_path)) {}

AtomicOutput::~AtomicOutput() { Discard(); }

bool AtomicOutput::Open() {
  // A hidden name beside the final one, so the rename stays on one file system.
  std::string name = final_path_.parent_path().string();
  name.append("/.").append(final_path_.filename().string()).append(".XXXXXX");
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) return false;
  temporary_path_ = name;
  return true;
}

bool AtomicOutput::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

bool AtomicOutput::Commit() {
  if (fd_ < 0) return false;
  const bool synced = ::fsync(fd_) == 0;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (!synced || !closed || std::rename(temporary_path_.c_str(), final_path_.c_str()) != 0) return false;
  temporary_path_.clear();
  return true;
}

void AtomicOutput::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_path_.empty()) ::unlink(temporary_path_.c_str());
  temporary_path_.clear();
}

}  // namespace p11crypto
