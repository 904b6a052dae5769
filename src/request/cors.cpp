#include "request/cors.h"

namespace vorlink {
namespace {

bool BeginsWithHttp(const std::string& s) { return s.compare(0, 4, "http") == 0; }

// Scheme, host and port of an origin: everything before the first "/" that
// follows "://".
std::string WithoutPath(const std::string& origin) {
  const auto scheme_end = origin.find("://");
  const auto path = origin.find('/', scheme_end + 3);
  return path == std::string::npos ? origin : origin.substr(0, path);
}

}  // namespace

HeaderList AnswerCorsHeaders(const std::string& origin) {
  HeaderList headers;
  if (BeginsWithHttp(origin)) {
    if (origin.find("://") != std::string::npos) {
      headers.emplace_back("Access-Control-Allow-Origin", WithoutPath(origin));
    }
  } else if (origin == "null") {
    headers.emplace_back("Access-Control-Allow-Origin", "*");
  }
  headers.emplace_back("Access-Control-Allow-Method", "POST, GET, OPTIONS");
  headers.emplace_back("Access-Control-Allow-Headers", "X-Request-With, Content-Type, Accept");
  headers.emplace_back("Access-Control-Allow-Private-Network", "true");
  headers.emplace_back("Access-Control-Max-Age", "1728000");
  return headers;
}

HeaderList PreflightCorsHeaders(const PreflightRequest& request) {
  HeaderList headers;
  if (BeginsWithHttp(request.origin)) {
    headers.emplace_back("Access-Control-Allow-Origin", request.origin);
  } else if (BeginsWithHttp(request.referer)) {
    headers.emplace_back("Access-Control-Allow-Origin", request.referer);
  } else {
    headers.emplace_back("Access-Control-Allow-Origin", "*");
  }
  if (!request.request_method.empty()) {
    headers.emplace_back("Access-Control-Allow-Method", request.request_method);
  }
  if (!request.request_headers.empty()) {
    headers.emplace_back("Access-Control-Allow-Headers", request.request_headers);
  }
  if (request.request_private_network == "true") {
    headers.emplace_back("Access-Control-Allow-Private-Network", "true");
  }
  return headers;
}

}  // namespace vorlink
