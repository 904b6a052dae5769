#pragma once
// The cross-origin headers of the two handlers. There is no list of allowed
// origins: any origin that begins with "http" is echoed back.

#include <string>
#include <utility>
#include <vector>

namespace vorlink {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Headers for an answer, in the order they are written. `origin` is the
// Origin header's value, empty when absent.
HeaderList AnswerCorsHeaders(const std::string& origin);

// What a preflight request asks for; empty strings stand for absent headers.
struct PreflightRequest {
  std::string origin;
  std::string referer;
  std::string request_method;           // Access-Control-Request-Method
  std::string request_headers;          // Access-Control-Request-Headers
  std::string request_private_network;  // Access-Control-Request-Private-Network
};

// Headers for a preflight answer. The headers a page asks to send are
// allowed back: without that, browsers refuse every request that carries a
// header of its own, however the preflight answered.
HeaderList PreflightCorsHeaders(const PreflightRequest& request);

}  // namespace vorlink
