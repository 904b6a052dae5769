#pragma once
// Sends each trace to the execution-log viewer, then to the log file, as
// one entry each, so a trace's lines stay together.

#include "log/diagnostic_log.h"
#include "log/log_viewer_sink.h"
#include "platform/clock/local_time.h"
#include "request/trace_recorder.h"

namespace vorlink {

class LogTraceRecorder final : public TraceRecorder {
 public:
  LogTraceRecorder(DiagnosticLog& log, LogViewerSink* viewer, platform::LocalClock clock = platform::NowLocalTime)
      : log_(log), viewer_(viewer), clock_(std::move(clock)) {}

  void RecordRequest(const httplib::Request& request) override;
  void RecordResponse(const httplib::Response& response) override;

 private:
  void Record(const std::string& trace);

  DiagnosticLog& log_;
  LogViewerSink* viewer_;
  platform::LocalClock clock_;
};

}  // namespace vorlink
