#include "request/log_trace_recorder.h"

#include "request/trace_builder.h"

namespace vorlink {

void LogTraceRecorder::RecordRequest(const httplib::Request& request) { Record(BuildRequestTrace(request, clock_)); }

void LogTraceRecorder::RecordResponse(const httplib::Response& response) {
  Record(BuildResponseTrace(response, clock_));
}

void LogTraceRecorder::Record(const std::string& trace) {
  if (viewer_) viewer_->AddLogLine(trace);
  log_.AppendLogText(trace);
}

}  // namespace vorlink
