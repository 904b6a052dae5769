#pragma once
// Feeds formatted log lines to the execution-log viewer's line store once
// the viewer exists, and tells the window that its lines changed.

#include <atomic>
#include <string_view>

#include "log/log_line_store.h"
#include "log/log_viewer_sink.h"

namespace vorlink {

class FrameWindow;

class ViewerFeed final : public LogViewerSink {
 public:
  explicit ViewerFeed(LogLineStore& lines) : lines_(lines) {}

  // From here on lines reach the store; null detaches (shutdown).
  void Attach(FrameWindow* window) { window_.store(window); }
  void AddLogLine(std::string_view text) override;

 private:
  LogLineStore& lines_;
  std::atomic<FrameWindow*> window_{nullptr};
};

}  // namespace vorlink
