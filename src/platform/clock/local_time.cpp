#include "platform/clock/local_time.h"

#include <atomic>
#include <ctime>

namespace vorlink::platform {
namespace {

// How often the time zone is looked at again. glibc reads the zone once,
// at the first conversion; tzset() makes it look again (with TZ unset it
// compares /etc/localtime's inode and time with what it read, a stat).
constexpr std::time_t kZoneRecheckSeconds = 10;

void RecheckZoneWhenDue(std::time_t now) {
  static std::atomic<std::time_t> next_check{0};
  std::time_t due = next_check.load(std::memory_order_relaxed);
  if (now < due || !next_check.compare_exchange_strong(due, now + kZoneRecheckSeconds)) return;
  tzset();
}

LocalTime Convert(std::time_t seconds) {
  std::tm tm{};
  localtime_r(&seconds, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 0};
}

}  // namespace

// Every log entry and trace stamp asks for the time, so each thread keeps
// the local time of the current second and converts only when the second
// changes.
LocalTime NowLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  thread_local std::time_t cached_second = -1;
  thread_local LocalTime cached;
  if (now.tv_sec != cached_second) {
    RecheckZoneWhenDue(now.tv_sec);
    cached = Convert(now.tv_sec);
    cached_second = now.tv_sec;
  }
  LocalTime t = cached;
  t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return t;
}

}  // namespace vorlink::platform
