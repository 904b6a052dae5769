#pragma once
// Where the request endpoint leaves the trace of each request and answer
// (the execution-log viewer and the diagnostic log file).

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace vorlink {

class TraceRecorder {
 public:
  virtual ~TraceRecorder() = default;
  virtual void RecordRequest(const httplib::Request& request) = 0;
  virtual void RecordResponse(const httplib::Response& response) = 0;
};

// Records nothing; for hosts and tests that do not trace.
class NullTraceRecorder final : public TraceRecorder {
 public:
  void RecordRequest(const httplib::Request&) override {}
  void RecordResponse(const httplib::Response&) override {}
};

}  // namespace vorlink
