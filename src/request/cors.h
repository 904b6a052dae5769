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

// Headers for a preflight answer. Empty strings stand for absent headers.
HeaderList PreflightCorsHeaders(const std::string& origin, const std::string& referer,
                                const std::string& request_method,
                                const std::string& request_private_network);

}  // namespace vorlink
