#include "desktop/app/application.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <iostream>

#include "desktop/app/main_frame.h"
#include "desktop/ui/about_dialog.h"
#include "desktop/ui/window_language.h"
#include "platform/process/agent_process.h"
#include "platform/process/executable_path.h"
#include "platform/process/stop_watchdog.h"
#include "platform/single_instance/single_instance_lock.h"

namespace vorlink {
namespace {

// SIGTERM, SIGINT and SIGHUP (the end of the desktop session) close the
// main frame the normal way, so the shutdown order runs, with the stop
// watchdog behind it. They are blocked in every thread and read on the UI
// thread through a signalfd, which modal dialogs' event loops serve too.
int BlockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, s);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

// Without any display the agent still serves: Qt falls back to offscreen.
void ChooseQtPlatform() {
  if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
}

}  // namespace

int CVorlink45::Run(int argc, char** argv) {
  const int signal_fd = BlockStopSignals();
  const auto executable = platform::ExecutablePath();
  auto lock = std::make_unique<platform::SingleInstanceLock>(executable.filename().string());
  if (!lock->held()) return 0;  // another instance serves this session

  const bool show_tray = platform::ShowTrayFromArguments(std::vector<std::string>(argv + 1, argv + argc));
  ChooseQtPlatform();
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  app.setApplicationName("Vorlink45");
  WindowLanguage language;
  language.Use(QLocale::system());

  AgentHostOptions options;
  options.files.executable = executable;
  auto frame = std::make_unique<CMainFrame>(show_tray, options);
  bool restart = false;
  // exit(), not quit(): quit() first asks every window to close, and the
  // wait window refuses, which cancelled the stop. exit() also ends the
  // event loops of modal dialogs shown at the time.
  QObject::connect(frame.get(), &CMainFrame::closed, &app, [&](bool r) {
    restart = r;
    QApplication::exit(0);
  });
  QObject::connect(frame.get(), &CMainFrame::aboutRequested, &app, [] { CAboutDlg().exec(); });
  QSocketNotifier stop_signal(signal_fd, QSocketNotifier::Read);
  QObject::connect(&stop_signal, &QSocketNotifier::activated, frame.get(), [&] {
    signalfd_siginfo info;
    while (::read(signal_fd, &info, sizeof info) == sizeof info) {
    }
    platform::StartStopWatchdog();
    frame->Close(false);
  });

  const bool created = frame->Create();
  if (created) app.exec();
  // A start that failed says why where the person who started the agent
  // looks, besides its ERROR line in the log, and ends with status 1.
  const std::string failure = created ? std::string() : frame->host().start_failure();
  const std::string log_folder = frame->host().log().LogDirectory();
  frame.reset();  // the shutdown order
  lock->Release();
  if (!created) {
    std::cerr << executable.filename().string() << ": not started: " << failure << " (log: " << log_folder << ")\n";
    return 1;
  }
  if (restart) platform::StartSuccessor(executable);
  return 0;
}

}  // namespace vorlink
