// The agent's own open-file limit: raised towards the hard limit, never
// lowered.

#include "host/server/open_file_limit.h"

#include <sys/resource.h>

#include <algorithm>
#include <gtest/gtest.h>

namespace vorlink {
namespace {

TEST(OpenFileLimit, RaisesTheSoftLimitButNeverLowersIt) {
  rlimit original{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
  const rlim_t hard = original.rlim_max;
  if (hard < 512) GTEST_SKIP() << "hard limit " << hard;
  const rlim_t wanted = std::min<rlim_t>(hard, kWantedOpenFiles);
  const std::pair<rlim_t, rlim_t> cases[] = {
      {256, wanted},     // a low soft limit goes up
      {wanted, wanted},  // already there
      {hard, hard},      // above what is wanted: left alone
  };
  for (const auto& [soft, expected] : cases) {
    rlimit set{soft, hard};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &set), 0);
    EXPECT_EQ(RaiseOpenFileLimit(), expected) << soft;
    rlimit now{};
    ::getrlimit(RLIMIT_NOFILE, &now);
    EXPECT_EQ(now.rlim_cur, expected) << soft;
  }
  ::setrlimit(RLIMIT_NOFILE, &original);
}

}  // namespace
}  // namespace vorlink
