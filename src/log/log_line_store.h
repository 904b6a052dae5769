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
  // One append, whole: its text and how many of its lines, counted from its
  // start, are already dropped.
  struct Entry {
    std::string text;
    std::size_t lines = 0;
    std::size_t dropped = 0;
  };

  // The text as the appends that made it (each line shown followed by
  // CR LF). Only the latest append may still hold CR characters of its
  // own; the next append drops them, as a rebuild of the whole text would.
  // Every log entry of every request passes through here, so an append
  // copies its text once, outside the lock, and never touches the others.
  mutable std::mutex mutex_;
  std::deque<Entry> entries_;
  std::size_t lines_ = 0;  // lines shown, over all entries
};

}  // namespace vorlink
