#include "platform/session/session_lock_listener.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace vorlink::platform {
namespace {

TEST(SessionLockListener, SeveralSourcesReportingOneChangeGiveOneCode) {
  SessionLockListener listener;
  QSignalSpy spy(&listener, &SessionLockListener::sessionChanged);
  const bool reports[] = {true, true, false, false, false, true};
  for (bool locked : reports) listener.ReportLocked(locked);
  ASSERT_EQ(spy.count(), 3);
  EXPECT_EQ(spy.at(0).at(0).toInt(), kSessionLock);
  EXPECT_EQ(spy.at(1).at(0).toInt(), kSessionUnlock);
  EXPECT_EQ(spy.at(2).at(0).toInt(), kSessionLock);
}

}  // namespace
}  // namespace vorlink::platform
