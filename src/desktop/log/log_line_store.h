#pragma once
// The execution-log viewer's text, kept without any window: the newest
// lines of this run, CR LF separated. Safe to call from any thread; each
// append reads the text the previous one wrote.

#include <mutex>
#include <string>

#include "desktop/log/log_viewer_sink.h"

namespace vorlink {

class LogLineStore : public LogViewerSink {
 public:
  static constexpr std::size_t kMaxLines = 100;

  // Appends `text` (which may hold several lines) and keeps the newest
  // lines once past the maximum; the text never holds more than 101 lines.
  void AddLogLine(std::u16string_view text) override;
  void Clear();
  std::u16string Text() const;
  bool Empty() const;

 private:
  mutable std::mutex mutex_;
  std::u16string text_;
};

}  // namespace vorlink
