// The dialogs components ask for: shown on the UI thread for the worker
// that asks, with a default title; and the wait window.

#include <QApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QThread>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

#include "desktop/ui/component_dialogs.h"
#include "desktop/ui/ui_component_host_services.h"
#include "desktop/ui/wait_window.h"

namespace vorlink {
namespace {

// Runs `work` on a worker thread while this (the UI) thread serves events.
template <typename T>
T FromWorker(const std::function<T()>& work) {
  std::optional<T> answer;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    answer = work();
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  return *answer;
}

void FromWorker(const std::function<void()>& work) {
  FromWorker<bool>([&] {
    work();
    return true;
  });
}

// Dialogs that answer set paths and note their title and thread.
struct FakeDialogs {
  QString folder;
  QStringList files;
  QString title;
  bool on_ui_thread = false;

  UiComponentHostServices::Dialogs Make() {
    const auto note = [this](const QString& t) {
      title = t;
      on_ui_thread = QThread::currentThread() == QCoreApplication::instance()->thread();
    };
    return {[this, note](const QString& t) {
              note(t);
              return folder;
            },
            [this, note](const QString& t) {
              note(t);
              return files;
            }};
  }
};

TEST(ComponentHostServices, DialogsRunOnTheUiThreadWithTheGivenOrDefaultTitle) {
  const struct {
    std::string title;
    QStringList chosen;  // what the dialogs answer
    QString shown_title;
    std::optional<std::string> folder;
    std::optional<std::vector<std::string>> files;
  } cases[] = {
      {"", {"/home/u/簽章"}, kDefaultFolderDialogTitle, "/home/u/簽章", std::vector<std::string>{"/home/u/簽章"}},
      {"Pick", {"/a/1.pdf", "", "/b/2.pdf"}, "Pick", "/a/1.pdf", std::vector<std::string>{"/a/1.pdf", "/b/2.pdf"}},
      {"Pick", {}, "Pick", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    QObject context;
    FakeDialogs dialogs;
    dialogs.folder = c.chosen.value(0);
    dialogs.files = c.chosen;
    UiComponentHostServices services(&context, dialogs.Make());
    EXPECT_EQ(FromWorker<std::optional<std::string>>([&] { return services.SelectFolder(c.title); }), c.folder);
    EXPECT_EQ(dialogs.title, c.shown_title);
    EXPECT_TRUE(dialogs.on_ui_thread);
    dialogs.on_ui_thread = false;
    EXPECT_EQ(FromWorker<std::optional<std::vector<std::string>>>([&] { return services.SelectFiles(c.title); }),
              c.files);
    EXPECT_EQ(dialogs.title, c.title.empty() ? kDefaultFilesDialogTitle : c.shown_title);
    EXPECT_TRUE(dialogs.on_ui_thread);
  }
}

TEST(ComponentHostServices, TheWaitWindowShowsTheLatestMessageUntilEnded) {
  QObject context;
  UiComponentHostServices services(&context, {});
  FromWorker([&] { services.SetWaitMessage("ignored"); });
  EXPECT_EQ(services.wait_window(), nullptr) << "no window without BeginWait";

  FromWorker([&] { services.BeginWait("簽章中，請稍候"); });
  const WaitWindow* window = services.wait_window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->Message(), "簽章中，請稍候");
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  const auto* busy = window->findChild<QProgressBar*>();
  ASSERT_NE(busy, nullptr);
  EXPECT_EQ(busy->maximum(), 0) << "a busy indicator, not a percentage";

  FromWorker([&] { services.SetWaitMessage("50%"); });
  FromWorker([&] { services.BeginWait("again"); });
  EXPECT_EQ(services.wait_window(), window) << "one window, new message";
  EXPECT_EQ(window->Message(), "again");

  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(const_cast<WaitWindow*>(window), &escape);
  const_cast<WaitWindow*>(window)->close();
  EXPECT_TRUE(window->isVisible()) << "only the component closes it";

  FromWorker([&] { services.EndWait(); });
  EXPECT_EQ(services.wait_window(), nullptr);
  FromWorker([&] { services.EndWait(); });  // a second end is harmless
}

TEST(ComponentDialogs, WithoutADisplayAnswerAsCancelled) {
  EXPECT_EQ(SelectFolderDialog(kDefaultFolderDialogTitle), QString());
  EXPECT_TRUE(SelectFilesDialog(kDefaultFilesDialogTitle).isEmpty());
}

}  // namespace
}  // namespace vorlink
