#include "host/viewer_feed.h"

#include "host/frame_window.h"

namespace vorlink {

void ViewerFeed::AddLogLine(std::string_view text) {
  FrameWindow* window = window_.load();
  if (!window) return;  // no viewer yet: nothing to show
  lines_.AddLogLine(text);
  window->LogLinesChanged();
}

}  // namespace vorlink
