#pragma once
// The execution-log viewer's text, kept without any window: the newest
// lines of this run, CR LF separated. Safe to call from any thread; each
// append reads the text the previous one wrote. Lines are kept as the UTF-8
// the log hands over and become UTF-16 only when the window asks.

#include <deque>
#include <mutex>
#include <string>

#include "log/log_viewer_sink.h"

namespace vorlink {

class LogLineStore : public LogViewerSink {
 public:
  static constexpr std::size_t kMaxLines = 100;

  // Appends `text` (which may hold several lines) and keeps the newest
  // lines once past the maximum; the text never holds more than 101 lines.
  void AddLogLine(std::string_view text) override;
  void Clear();
  std::u16string Text() const;
  bool Empty() const;

 private:
  // The text as its lines (each shown followed by CR LF). Only the lines of
  // the latest append may still hold CR characters of their own; the next
  // append drops them, as a rebuild of the whole text would. Appending
  // touches the new lines only, not the whole text, since every log entry
  // of every request passes through here.
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;
  std::size_t latest_lines_ = 0;  // how many trailing lines came with the latest append
};

}  // namespace vorlink
