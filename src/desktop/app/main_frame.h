#pragma once
// CMainFrame: the agent's hidden main window. It owns the agent's parts
// (through AgentHost), the tray icon and the log viewer, receives the tray
// commands, the session notifications and the sweep timer, and runs the
// shutdown order when it closes.

#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>

#include "host/agent_host.h"
#include "host/frame_window.h"

namespace vorlink {

class CSystemTray;
class CShowLogDialog;
class UiFileSelection;
class UiComponentHostServices;
class SessionLockListener;

class CMainFrame : public QObject, public FrameWindow {
  Q_OBJECT
 public:
  CMainFrame(bool show_tray, AgentHostOptions options);
  ~CMainFrame() override;

  // The window creation sequence; false when the agent must end.
  bool Create();
  AgentHost& host() { return *host_; }

  // FrameWindow
  bool RegisterSessionNotifications() override;
  bool CreateLogDialog() override;
  bool CreateTrayIcon(const std::string& tooltip) override;
  void StartSweepTimer(int interval_ms) override;
  void LogLinesChanged() override;

 signals:
  // The frame closed; `restart` asks the application for a successor.
  void closed(bool restart);
  void aboutRequested();

 public slots:
  void OnCommand(int id);
  // Closes the frame the normal way (also on SIGTERM, SIGINT, SIGHUP).
  void Close(bool restart = false);

 private:
  bool Confirm(const QString& text, const QString& caption);

  bool show_tray_;
  std::unique_ptr<UiFileSelection> file_selection_;
  std::unique_ptr<UiComponentHostServices> component_host_;
  std::unique_ptr<AgentHost> host_;
  std::unique_ptr<SessionLockListener> session_;
  std::unique_ptr<CSystemTray> tray_;
  std::unique_ptr<CShowLogDialog> log_dialog_;
  QTimer sweep_timer_;
  std::atomic<bool> refresh_queued_{false};  // a viewer refresh waits on the UI thread
  bool closing_ = false;
};

}  // namespace vorlink
