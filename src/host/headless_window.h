#pragma once
// The frame window of an agent without a desktop: nothing to register,
// show or time; the host still serves.

#include "host/frame_window.h"

namespace vorlink {

class HeadlessWindow final : public FrameWindow {
 public:
  bool RegisterSessionNotifications() override { return true; }
  bool CreateLogDialog() override { return true; }
  bool CreateTrayIcon(const std::string&) override { return true; }
  void StartSweepTimer(int) override {}
};

}  // namespace vorlink
