// Runs the desktop tests inside a QApplication on the offscreen platform.

#include <QApplication>
#include <gtest/gtest.h>

#include "private_session_bus.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  vorlink::test::PrivateSessionBus bus;  // before Qt connects to any bus
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
