#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <thread>

#include "desktop/ui/about_dialog.h"
#include "desktop/ui/agent_icon.h"
#include "desktop/ui/file_selection_dialog.h"
#include "desktop/ui/show_log_dialog.h"
#include "desktop/ui/system_tray.h"
#include "desktop/ui/tray_menu.h"
#include "desktop/ui/ui_thread.h"
#include "desktop/ui/window_language.h"
#include "host/tray_tooltip.h"
#include "log/log_line_store.h"

namespace vorlink {
namespace {

TEST(TrayMenu, HoldsTheItemsInOrderWithTheDefaultBoldAndDisabled) {
  CSystemTray tray;
  const auto actions = tray.menu()->actions();
  ASSERT_EQ(actions.size(), 7);
  const QStringList texts = {"自訂選項 ...", "顯示執行記錄", "版本說明", "", "重新啟動", "", "結束"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(actions[i]->text(), texts[i]) << i;
    EXPECT_EQ(actions[i]->isSeparator(), texts[i].isEmpty()) << i;
  }
  EXPECT_EQ(tray.menu()->defaultAction(), actions[0]);
  EXPECT_FALSE(actions[0]->isEnabled());
  for (int i : {1, 2, 4, 6}) EXPECT_TRUE(actions[i]->isEnabled()) << i;
}

TEST(TrayMenu, ItemsSendTheirCommands) {
  CSystemTray tray;
  QSignalSpy spy(&tray, &CSystemTray::command);
  const auto actions = tray.menu()->actions();
  for (int i : {1, 2, 4, 6}) actions[i]->trigger();
  ASSERT_EQ(spy.count(), 4);
  const int expected[] = {kCmdShowLog, kCmdAbout, kCmdRestart, kCmdExit};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(spy.at(i).at(0).toInt(), expected[i]);
}

TEST(TrayIcon, TooltipIsCutTo127Characters) {
  CSystemTray tray;
  const QString tip = QString::fromStdString(TrayTooltip());
  ASSERT_TRUE(tray.CreateTrayIcon(tip, LoadAgentIcon()));
  EXPECT_EQ(tray.tooltip(), tip);
  tray.CreateTrayIcon(QString(200, 'x'), LoadAgentIcon());
  EXPECT_EQ(tray.tooltip().size(), 127);
}

TEST(AgentIcon, RendersAtTraySizes) {
  const QIcon icon = LoadAgentIcon();
  ASSERT_FALSE(icon.isNull());
  EXPECT_FALSE(icon.pixmap(22, 22).isNull());
  EXPECT_GE(icon.availableSizes().size(), 4);
}

TEST(AboutBox, ShowsProductAndVersion) {
  CAboutDlg about;
  EXPECT_EQ(about.VersionText(), "NESTO Zanthe - 4.5.23.1 版");
}

// The windows follow the desktop locale: English for English, the
// Traditional Chinese they are written in for Chinese and everything else.
TEST(WindowLanguage, EnglishForEnglishDesktopsChineseOtherwise) {
  const QStringList chinese = {"自訂選項 ...", "顯示執行記錄", "版本說明", "", "重新啟動", "", "結束"};
  const QStringList english = {"Custom options ...", "Show execution log", "About", "", "Restart", "", "Exit"};
  struct Case {
    const char* locale;
    bool english;
  };
  const Case cases[] = {{"en_US", true},  {"en_GB", true}, {"zh_TW", false}, {"zh_CN", false},
                        {"de_DE", false}, {"C", false},    {"en_AU", true}};
  WindowLanguage language;
  for (const auto& c : cases) {
    EXPECT_EQ(language.Use(QLocale(c.locale)), c.english ? "en" : "zh_TW") << c.locale;
    CSystemTray tray;
    QStringList texts;
    for (QAction* action : tray.menu()->actions()) texts << action->text();
    EXPECT_EQ(texts, c.english ? english : chinese) << c.locale;
    LogLineStore lines;
    EXPECT_EQ(CShowLogDialog(lines).windowTitle(), c.english ? "Execution log" : "作業記錄檢視") << c.locale;
    EXPECT_EQ(CAboutDlg().VersionText(), c.english ? "NESTO Zanthe - version 4.5.23.1" : "NESTO Zanthe - 4.5.23.1 版");
    EXPECT_EQ(CAboutDlg().windowTitle(), c.english ? "About NESTO Zanthe" : "關於 NESTO Zanthe");
    // The tooltip names the product as the About box does, and no program file.
    tray.CreateTrayIcon(QString::fromStdString(TrayTooltip()), LoadAgentIcon());
    EXPECT_EQ(tray.tooltip(), c.english ? "NESTO Zanthe - version 4.5.23.1" : "NESTO Zanthe - 版本 : 4.5.23.1");
  }
  language.Use(QLocale("zh_TW"));  // the other tests expect the source texts
}

TEST(FileDialog, WithoutADisplayAnswersAsCancelled) { EXPECT_EQ(SelectFileDialog(""), QString()); }

TEST(UiThread, WorkersGetTheUiThreadsAnswerAndGiveUpWhenStopping) {
  QObject context;
  std::atomic<bool> stopping{false};
  EXPECT_EQ(RunOnUiThread<int>(
                &context, [] { return 7; }, -1, stopping),
            7)
      << "direct on the UI thread";

  std::atomic<int> from_worker{0};
  std::thread worker([&] {
    from_worker = RunOnUiThread<int>(
        &context, [&] { return QThread::currentThread() == context.thread() ? 1 : 2; }, -1, stopping);
  });
  while (from_worker.load() == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_EQ(from_worker.load(), 1);

  int stopped = 0;
  std::thread late([&] {
    stopped = RunOnUiThread<int>(
        &context, [] { return 5; }, -1, stopping);
  });
  stopping = true;  // the UI thread never runs the work: the worker must not hang
  late.join();
  EXPECT_EQ(stopped, -1);
  QCoreApplication::processEvents();
}

}  // namespace
}  // namespace vorlink

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScrollBar>

#include "desktop/ui/show_log_dialog.h"
#include "log/log_line_store.h"

namespace vorlink {
namespace {

TEST(LogViewer, ShowsTheCollectedLinesAndClearsThem) {
  LogLineStore lines;
  CShowLogDialog viewer(lines);
  EXPECT_TRUE(viewer.Text().isEmpty());
  EXPECT_FALSE(viewer.ClearEnabled());
  EXPECT_TRUE(viewer.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(viewer.windowTitle(), "作業記錄檢視");

  for (int i = 1; i <= 150; ++i) lines.AddLogLine("entry " + std::to_string(i));
  viewer.Refresh();
  const QStringList shown = viewer.Text().split('\n');
  EXPECT_EQ(shown.size(), 100);
  EXPECT_EQ(shown.first(), "entry 51");
  EXPECT_EQ(shown.last(), "entry 150");
  EXPECT_TRUE(viewer.ClearEnabled());

  QGuiApplication::clipboard()->setText("before");
  viewer.Copy();
  EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("entry 51\r\n"));
  EXPECT_TRUE(QGuiApplication::clipboard()->text().endsWith("entry 150\r\n"));

  viewer.Clear();
  EXPECT_TRUE(viewer.Text().isEmpty());
  QGuiApplication::clipboard()->setText("kept");
  viewer.Copy();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "kept") << "copying an empty text copies nothing";
  EXPECT_FALSE(viewer.ClearEnabled());
  lines.AddLogLine("one");
  viewer.Refresh();
  EXPECT_EQ(viewer.Text(), "one");
  EXPECT_TRUE(viewer.ClearEnabled());

  viewer.show();
  viewer.close();  // closing hides; the text stays
  EXPECT_EQ(viewer.Text(), "one");
}

// New lines keep the newest in view, unless the user scrolled up to read:
// then the view stays on the line the user is reading.
TEST(LogViewer, FollowsTheNewestLineUntilTheUserScrollsUp) {
  struct Case {
    const char* name;
    int scroll_to;  // -1: left at the bottom
    bool at_bottom_after;
  };
  const Case cases[] = {
      {"left at the bottom", -1, true}, {"scrolled to the top", 0, false}, {"scrolled up", 20, false}};
  for (const Case& c : cases) {
    LogLineStore lines;
    CShowLogDialog viewer(lines);
    viewer.show();
    for (int i = 1; i <= 80; ++i) lines.AddLogLine("entry " + std::to_string(i));
    viewer.Refresh();
    QScrollBar* bar = viewer.text_view()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << c.name;
    EXPECT_EQ(bar->value(), bar->maximum()) << c.name;
    if (c.scroll_to >= 0) bar->setValue(c.scroll_to);
    for (int i = 81; i <= 90; ++i) lines.AddLogLine("entry " + std::to_string(i));
    viewer.Refresh();
    if (c.at_bottom_after) {
      EXPECT_EQ(bar->value(), bar->maximum()) << c.name;
    } else {
      EXPECT_EQ(bar->value(), c.scroll_to) << c.name;
    }
  }
}

}  // namespace
}  // namespace vorlink
