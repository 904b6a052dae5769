#include "platform/clock/local_time.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <thread>

namespace vorlink::platform {
namespace {

// Hours east of UTC that NowLocalTime shows, from its hour and the UTC hour.
int OffsetHours() {
  const LocalTime local = NowLocalTime();
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  const int minutes = (((local.hour - utc.tm_hour) * 60 + local.minute - utc.tm_min) % 1440 + 1440) % 1440;
  return (minutes + 30) / 60 % 24;  // a minute that turns between the two reads rounds away
}

// The zone is read once for speed, but a zone changed while the agent runs
// shows within seconds, not at the next start.
TEST(NowLocalTime, FollowsAChangedTimeZone) {
  const char* saved = std::getenv("TZ");
  const std::string previous = saved ? saved : "";
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
  EXPECT_EQ(OffsetHours(), 0);
  ::setenv("TZ", "XST-8", 1);  // eight hours east, no zone file needed
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (OffsetHours() != 8 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(OffsetHours(), 8);
  saved ? ::setenv("TZ", previous.c_str(), 1) : ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace vorlink::platform
