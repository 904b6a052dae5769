#pragma once
// Wall-clock local time with milliseconds, as log prefixes and traces show it.

#include <functional>

namespace vorlink::platform {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// The local time now. The time zone is read once and looked at again every
// few seconds, so a changed zone shows within that time.
LocalTime NowLocalTime();

// Injectable source of local time; tests step it across midnight.
using LocalClock = std::function<LocalTime()>;

}  // namespace vorlink::platform
