// The main frame's hand-off of viewer lines from worker threads to the UI
// thread.

#include "desktop/app/main_frame.h"

#include <QCoreApplication>
#include <QEvent>
#include <gtest/gtest.h>
#include <thread>

#include "support/free_ports.h"
#include "support/test_paths.h"

namespace vorlink {
namespace {

// Counts the queued calls the UI thread delivers to the frame or its viewer.
struct QueuedCalls : QObject {
  explicit QueuedCalls(QObject* frame) : frame(frame) {}
  bool eventFilter(QObject* receiver, QEvent* event) override {
    const bool ours = receiver == frame || receiver->inherits("vorlink::CShowLogDialog");
    if (event->type() == QEvent::MetaCall && ours) ++count;
    return false;
  }
  QObject* frame;
  int count = 0;
};

TEST(MainFrame, ABurstOfViewerLinesQueuesOneRefresh) {
  test::ScratchDir logs;
  AgentHostOptions options;
  options.files.executable = "/opt/agent/vorlink45";
  options.files.log_directory = logs.path().string();
  options.ports = test::FreePorts(1);
  options.install_browser_trust = false;
  options.timing.final_wait = std::chrono::milliseconds(0);
  CMainFrame frame(false, options);
  ASSERT_TRUE(frame.Create());
  QCoreApplication::processEvents();  // the creation lines' refresh
  QueuedCalls calls(&frame);
  QCoreApplication::instance()->installEventFilter(&calls);

  std::thread worker([&] {
    for (int i = 0; i < 500; ++i) frame.host().log().LogDebug("line", i);
  });
  worker.join();
  QCoreApplication::processEvents();
  EXPECT_EQ(calls.count, 1);
  EXPECT_NE(frame.host().log_lines().Text().find(u"line = (int)499"), std::u16string::npos);

  frame.host().log().LogDebug("later");
  QCoreApplication::processEvents();
  EXPECT_EQ(calls.count, 2) << "a line added after the refresh ran gets a refresh of its own";
  QCoreApplication::instance()->removeEventFilter(&calls);
}

}  // namespace
}  // namespace vorlink
