#pragma once
// The execution-log viewer as the log sees it: a place to append lines
// (UTF-8 text; an entry may hold several lines, each ended by LF).

#include <string_view>

namespace vorlink {

class LogViewerSink {
 public:
  virtual ~LogViewerSink() = default;
  virtual void AddLogLine(std::string_view text) = 0;
};

}  // namespace vorlink
