#include "desktop/session/session_lock_listener.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

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

#include <QCoreApplication>
#include <QElapsedTimer>

#include "private_session_bus.h"

namespace vorlink::platform {
namespace {

// Lock and unlock reported by two screen savers over a real (private) bus.
TEST(SessionLockListener, ScreenSaverSignalsOnTheSessionBusBecomeCodes) {
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) GTEST_SKIP() << "no private session bus";
  SessionLockListener listener;
  ASSERT_TRUE(listener.Register());
  QSignalSpy spy(&listener, &SessionLockListener::sessionChanged);
  auto wait_for = [&](int count) {
    QElapsedTimer t;
    t.start();
    while (spy.count() < count && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  };
  ASSERT_TRUE(test::EmitScreenSaverActive("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", true));
  wait_for(1);
  ASSERT_TRUE(test::EmitScreenSaverActive("org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", true));
  ASSERT_TRUE(test::EmitScreenSaverActive("org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", false));
  wait_for(2);
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy.at(0).at(0).toInt(), kSessionLock);
  EXPECT_EQ(spy.at(1).at(0).toInt(), kSessionUnlock);
  listener.Unregister();
}

}  // namespace
}  // namespace vorlink::platform
