#include "desktop/app/main_frame.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QSystemTrayIcon>

#include "desktop/session/session_lock_listener.h"
#include "desktop/ui/agent_icon.h"
#include "desktop/ui/show_log_dialog.h"
#include "desktop/ui/system_tray.h"
#include "desktop/ui/tray_menu.h"
#include "desktop/ui/ui_component_host_services.h"
#include "desktop/ui/ui_file_selection.h"

namespace vorlink {

namespace {

AgentHostOptions WithDialogs(AgentHostOptions options, FileSelectionService* files, ComponentHostServices* components) {
  options.desktop.file_selection = files;
  options.desktop.component_host = components;
  return options;
}

}  // namespace

CMainFrame::CMainFrame(bool show_tray, AgentHostOptions options)
    : show_tray_(show_tray),
      file_selection_(std::make_unique<UiFileSelection>(this)),
      component_host_(std::make_unique<UiComponentHostServices>(this)),
      host_(
          std::make_unique<AgentHost>(WithDialogs(std::move(options), file_selection_.get(), component_host_.get()))) {
  connect(&sweep_timer_, &QTimer::timeout, this, [this] { host_->OnTimer(kSweepTimerId); });
}

CMainFrame::~CMainFrame() {
  sweep_timer_.stop();
  if (session_) session_->Unregister();
  file_selection_->Stop();  // a worker waiting for a dialog gives up
  component_host_->Stop();
  host_->Shutdown();  // detaches the viewer before the dialog goes
  tray_.reset();
  log_dialog_.reset();
}

bool CMainFrame::Create() { return host_->CreateWindowSequence(*this); }

bool CMainFrame::RegisterSessionNotifications() {
  session_ = std::make_unique<SessionLockListener>();
  connect(session_.get(), &SessionLockListener::sessionChanged, this,
          [this](int code) { host_->OnSessionChange(code); });
  return session_->Register();
}

bool CMainFrame::CreateLogDialog() {
  log_dialog_ = std::make_unique<CShowLogDialog>(host_->log_lines());
  return true;
}

void CMainFrame::LogLinesChanged() {
  // Any thread: the dialog is refreshed on the UI thread. A refresh shows the
  // store's text as it is when it runs, so one queued refresh serves every
  // line added before it starts; queuing one per line let a busy agent's UI
  // thread fall seconds behind, with the queue's memory.
  if (refresh_queued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        refresh_queued_ = false;
        log_dialog_->Refresh();
      },
      Qt::QueuedConnection);
}

bool CMainFrame::CreateTrayIcon(const std::string& tooltip) {
  if (!show_tray_) return true;
  tray_ = std::make_unique<CSystemTray>();
  connect(tray_.get(), &CSystemTray::command, this, &CMainFrame::OnCommand);
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    host_->log().LogDebug("TrayIcon 等待通知區域出現後顯示");
  }
  return tray_->CreateTrayIcon(QString::fromStdString(tooltip), LoadAgentIcon());
}

void CMainFrame::StartSweepTimer(int interval_ms) { sweep_timer_.start(interval_ms); }

bool CMainFrame::Confirm(const QString& text, const QString& caption) {
  // Nobody can answer a question without a display: that counts as No.
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return false;
  return QMessageBox::question(nullptr, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
         QMessageBox::Yes;
}

void CMainFrame::OnCommand(int id) {
  switch (id) {
    case kCmdShowLog:
      log_dialog_->show();
      log_dialog_->raise();
      log_dialog_->activateWindow();
      break;
    case kCmdAbout: emit aboutRequested(); break;
    case kCmdRestart:
      if (Confirm(tr("注意 !\n執行中網頁(或程式), 將無法繼續作業, 需要重新進入網頁, 才能繼續, 確定要重新啟動嗎?"),
                  tr("重新啟動"))) {
        Close(true);
      }
      break;
    case kCmdExit:
      if (Confirm(tr("注意 !\n執行中網頁(或程式), 將無法作業, 確定要結束嗎?"), tr("結束"))) {
        Close(false);
      }
      break;
    default: break;  // the custom-options item and its double click have no handler
  }
}

void CMainFrame::Close(bool restart) {
  if (closing_) return;
  closing_ = true;
  emit closed(restart);
}

}  // namespace vorlink
