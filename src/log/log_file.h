#pragma once
// The log's files: one per day and roll-over index, appended through one
// descriptor kept open with O_APPEND. One write per entry; the kernel has
// the entry once write() returns, so it survives the agent's death exactly
// as an open-append-close did (only a power loss can lose it, in both).

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock/local_time.h"

namespace vorlink {

class LogFile {
 public:
  // How often an append checks that the path still names the open file (a
  // user may delete or rename it while the agent runs).
  static constexpr std::chrono::milliseconds kRecheck{250};

  LogFile(std::string base_name, std::uintmax_t roll_over_bytes, int max_scanned_index);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Sets the folder, creates it (mode 0700, parents as usual) and takes
  // group and other access away from the folder and its log files.
  void SetDirectory(std::string directory);
  // Chooses the index: the last file of the unbroken run 1, 2, ... of
  // `today`; 0 when every index up to the maximum exists.
  void ScanIndex(const platform::LocalTime& today);

  // Appends `bytes` (whole entries) to the file of `date` and the current
  // index, creating it (mode 0600) when missing; empty bytes only create
  // it. A file that grows past the roll-over size sends the next append to
  // the next index. Without a folder, or when the file cannot be opened,
  // the bytes are lost and nothing else changes.
  void Append(const platform::LocalTime& date, std::string_view bytes);

  std::string Directory() const;
  int Index() const;
  std::string PathFor(const platform::LocalTime& date) const;

 private:
  struct Date {
    int year = 0, month = 0, day = 0;
    bool operator==(const Date&) const = default;
  };
  static Date DateOf(const platform::LocalTime& t) { return {t.year, t.month, t.day}; }

  std::string PathLocked(const Date& date, int index) const;
  bool Open(const Date& date);
  void Recheck(const Date& date);
  void RescueDeletedTail(int old_fd, std::uintmax_t from);
  bool Write(std::string_view bytes);

  const std::string base_name_;
  const std::uintmax_t roll_over_bytes_;
  const int max_scanned_index_;

  // One mutex serialises every append (the check, the write, the size step
  // and the index step) and the open file's state; entries are formatted
  // before it is taken.
  mutable std::mutex mutex_;
  std::string directory_;
  int index_ = 0;
  int fd_ = -1;
  Date open_date_;
  int open_index_ = 0;
  std::string open_path_;
  std::uintmax_t size_ = 0;
  // Bytes of the open file known to be in a file the path named at the last
  // check; what lies beyond is copied on when the file turns out deleted.
  std::uintmax_t checked_size_ = 0;
  std::chrono::steady_clock::time_point next_check_;
};

}  // namespace vorlink
