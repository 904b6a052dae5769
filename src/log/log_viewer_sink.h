#pragma once
// The execution-log viewer as the log sees it: a place to append lines.

#include <string_view>

namespace vorlink {

class LogViewerSink {
 public:
  virtual ~LogViewerSink() = default;
  virtual void AddLogLine(std::u16string_view text) = 0;
};

}  // namespace vorlink
