#pragma once
// The two handlers the HTTPS server routes to: the request handler (GET and
// POST) and the preflight handler (OPTIONS).

#include "request/field_parser.h"
#include "request/trace_recorder.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace vorlink {

class RequestEndpoint {
 public:
  RequestEndpoint(const FieldParser& parser, TraceRecorder& traces) : parser_(parser), traces_(traces) {}

  // Answers with status 200 and the answer text. An exception from decoding
  // or from a component escapes to the server, which answers status 500.
  void HandleRequest(const httplib::Request& request, httplib::Response& response) const;

  // Answers status 204 with the preflight CORS headers and no body.
  void HandlePreflight(const httplib::Request& request, httplib::Response& response) const;

 private:
  const FieldParser& parser_;
  TraceRecorder& traces_;
};

}  // namespace vorlink
