// The listener's worker pool: grows while every thread is busy, up to its
// ceiling, shrinks back to its core when quiet, and runs every task.

#include "host/server/connection_pool.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>

namespace vorlink {
namespace {

// Polls `done` for up to ten seconds; a bound for slow machines, not a
// measurement.
template <typename F>
bool Eventually(F done) {
  for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST(ConnectionPool, GrowsToItsCeilingWhileBusyAndShrinksBackWhenQuiet) {
  ConnectionPool pool(2, 4, std::chrono::milliseconds(50));
  EXPECT_EQ(pool.threads(), 2u);
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  std::atomic<int> started{0}, finished{0};
  for (int i = 0; i < 6; ++i) {
    pool.enqueue([&, gate] {
      ++started;
      gate.wait();
      ++finished;
    });
  }
  EXPECT_TRUE(Eventually([&] { return started == 4; })) << "one thread per busy task, up to the ceiling";
  EXPECT_EQ(pool.threads(), 4u);
  release.set_value();
  EXPECT_TRUE(Eventually([&] { return finished == 6; })) << "queued tasks run once a thread is free";
  EXPECT_TRUE(Eventually([&] { return pool.threads() == 2u; })) << "extra threads end when quiet";
  std::atomic<bool> ran{false};
  pool.enqueue([&] { ran = true; });
  EXPECT_TRUE(Eventually([&] { return ran.load(); }));
}

TEST(ConnectionPool, ShutdownRunsWhatIsQueuedThenJoins) {
  std::atomic<int> ran{0};
  {
    ConnectionPool pool(1, 1);
    for (int i = 0; i < 20; ++i) pool.enqueue([&] { ++ran; });
    pool.shutdown();
    EXPECT_EQ(ran, 20);
    EXPECT_EQ(pool.threads(), 0u);
  }  // a second shutdown in the destructor is harmless
  EXPECT_EQ(ran, 20);
}

}  // namespace
}  // namespace vorlink
