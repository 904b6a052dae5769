#include "log/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace vorlink {
namespace {

namespace fs = std::filesystem;

// The log holds signed texts and file contents: only its user may read it.
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

// Takes group and other access away from the log files already there
// (written by an older version, or by hand). Symbolic links are left alone.
void TightenFiles(const std::string& directory, const std::string& prefix) {
  std::error_code ec;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_error;
    if (!it->path().filename().string().starts_with(prefix)) continue;
    if (it->symlink_status(type_error).type() != fs::file_type::regular) continue;
    ::chmod(it->path().c_str(), kFileMode);
  }
}

}  // namespace

LogFile::LogFile(std::string base_name, std::uintmax_t roll_over_bytes, int max_scanned_index)
    : base_name_(std::move(base_name)), roll_over_bytes_(roll_over_bytes), max_scanned_index_(max_scanned_index) {}

LogFile::~LogFile() {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return;
  struct stat own {};
  // Entries written after the file was deleted go on to a new one.
  if (::fstat(fd_, &own) == 0 && own.st_nlink == 0) Open(open_date_);
  if (fd_ >= 0) ::close(fd_);
}

void LogFile::SetDirectory(std::string directory) {
  const fs::path folder(directory);
  std::error_code ec;
  if (folder.has_parent_path()) fs::create_directories(folder.parent_path(), ec);
  ::mkdir(directory.c_str(), kFolderMode);  // a failure loses file entries only
  ::chmod(directory.c_str(), kFolderMode);
  TightenFiles(directory, base_name_ + ".log.");
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  directory_ = std::move(directory);
}

std::string LogFile::PathLocked(const Date& date, int index) const {
  char path[512];
  std::snprintf(path, sizeof path, "%s/%s.log.%04d%02d%02d-%03d", directory_.c_str(), base_name_.c_str(), date.year,
                date.month, date.day, index);
  return path;
}

void LogFile::ScanIndex(const platform::LocalTime& today) {
  std::lock_guard lock(mutex_);
  if (directory_.empty()) return;
  for (int i = 1; i <= max_scanned_index_; ++i) {
    const int fd = ::open(PathLocked(DateOf(today), i).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      index_ = i == 1 ? 1 : i - 1;
      return;
    }
    ::close(fd);
  }
  // All exist: the index keeps 0 and entries go to file 000.
}

void LogFile::Append(const platform::LocalTime& when, std::string_view bytes) {
  const Date date = DateOf(when);
  std::lock_guard lock(mutex_);
  if (directory_.empty()) return;
  if (fd_ < 0 || date != open_date_ || index_ != open_index_) {
    if (!Open(date)) return;
  } else if (std::chrono::steady_clock::now() >= next_check_) {
    Recheck(date);
    if (fd_ < 0) return;
  }
  if (bytes.empty()) return;
  Write(bytes);
  if (size_ > roll_over_bytes_) ++index_;
}

// Opens the file of `date` and the current index in place of the open one.
// O_NONBLOCK keeps a FIFO planted under a log file's name from blocking;
// reading is for copying on what a deleted file still holds.
bool LogFile::Open(const Date& date) {
  const int old_fd = fd_;
  const std::uintmax_t old_checked = checked_size_;
  open_path_ = PathLocked(date, index_);
  fd_ = ::open(open_path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, kFileMode);
  if (fd_ >= 0) {
    struct stat st {};
    ::fstat(fd_, &st);
    if ((st.st_mode & 07777) != kFileMode) ::fchmod(fd_, kFileMode);
    size_ = checked_size_ = static_cast<std::uintmax_t>(st.st_size);
    open_date_ = date;
    open_index_ = index_;
    next_check_ = std::chrono::steady_clock::now() + kRecheck;
  }
  if (old_fd >= 0) {
    RescueDeletedTail(old_fd, old_checked);
    ::close(old_fd);
  }
  return fd_ >= 0;
}

// Whether the path still names the open file. A deleted file is replaced
// and what was written to it since the last check is copied on; a renamed
// or replaced one keeps its entries and the path gets a file of its own.
void LogFile::Recheck(const Date& date) {
  next_check_ = std::chrono::steady_clock::now() + kRecheck;
  struct stat own {
  }, named{};
  if (::fstat(fd_, &own) == 0 && own.st_nlink > 0 && ::stat(open_path_.c_str(), &named) == 0 &&
      named.st_dev == own.st_dev && named.st_ino == own.st_ino) {
    size_ = checked_size_ = static_cast<std::uintmax_t>(own.st_size);  // follows a truncation too
    return;
  }
  Open(date);
}

void LogFile::RescueDeletedTail(int old_fd, std::uintmax_t from) {
  struct stat old {};
  if (fd_ < 0 || ::fstat(old_fd, &old) != 0 || old.st_nlink != 0) return;
  char buffer[64 * 1024];
  for (auto at = static_cast<off_t>(from); at < old.st_size;) {
    const auto wanted = std::min<off_t>(static_cast<off_t>(sizeof buffer), old.st_size - at);
    const ssize_t n = ::pread(old_fd, buffer, static_cast<std::size_t>(wanted), at);
    if (n <= 0 || !Write({buffer, static_cast<std::size_t>(n)})) return;
    at += n;
  }
}

bool LogFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // disk full or the like: the rest of the entry is lost
    size_ += static_cast<std::uintmax_t>(n);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string LogFile::Directory() const {
  std::lock_guard lock(mutex_);
  return directory_;
}

int LogFile::Index() const {
  std::lock_guard lock(mutex_);
  return index_;
}

std::string LogFile::PathFor(const platform::LocalTime& date) const {
  std::lock_guard lock(mutex_);
  return PathLocked(DateOf(date), index_);
}

}  // namespace vorlink
