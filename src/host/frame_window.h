#pragma once
// What the main frame's window side provides to the window creation
// sequence: the pieces that need the desktop (session notifications, the
// log viewer, the tray icon, the timer). The Qt main frame implements it;
// tests stand in fakes that fail on purpose.

#include <string>

namespace vorlink {

class FrameWindow {
 public:
  virtual ~FrameWindow() = default;
  virtual bool CreateFrame() { return true; }
  virtual bool RegisterSessionNotifications() = 0;
  virtual bool CreateLogDialog() = 0;
  virtual bool CreateTrayIcon(const std::string& tooltip) = 0;
  virtual void StartSweepTimer(int interval_ms) = 0;
  // The viewer's lines changed; called on any thread, after the change.
  virtual void LogLinesChanged() {}
};

}  // namespace vorlink
