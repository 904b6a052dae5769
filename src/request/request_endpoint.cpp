#include "request/request_endpoint.h"

#include <httplib.h>

#include "request/cors.h"

namespace vorlink {
namespace {

void SetHeaders(httplib::Response& response, const HeaderList& headers) {
  for (const auto& [name, value] : headers) response.set_header(name, value);
}

PageOrigin OriginOf(const httplib::Request& request) {
  const auto [first, last] = request.headers.equal_range("Origin");  // the first, as the library reads it
  if (first == last) return std::nullopt;
  return first->second;
}

}  // namespace

void RequestEndpoint::HandleRequest(const httplib::Request& request, httplib::Response& response) const {
  traces_.RecordRequest(request);
  const PageOrigin origin = OriginOf(request);
  const std::string answer = parser_.Parse(TakeFieldMap(request), origin);
  SetHeaders(response, AnswerCorsHeaders(origin.value_or("")));
  response.set_content(answer, "text/html; charset=utf-8");
  traces_.RecordResponse(response);
}

void RequestEndpoint::HandlePreflight(const httplib::Request& request, httplib::Response& response) const {
  traces_.RecordRequest(request);
  SetHeaders(response, PreflightCorsHeaders({request.get_header_value("Origin"), request.get_header_value("Referer"),
                                             request.get_header_value("Access-Control-Request-Method"),
                                             request.get_header_value("Access-Control-Request-Headers"),
                                             request.get_header_value("Access-Control-Request-Private-Network")}));
  response.status = 204;
  traces_.RecordResponse(response);
}

}  // namespace vorlink
