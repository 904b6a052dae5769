#pragma once
// How a request's body is framed and whether it may be read at all, decided
// from its headers before any of it is read.

#include <cstddef>

namespace httplib {
struct Request;
}

namespace vorlink {

enum class BodyFraming {
  kNone,     // neither Content-Length nor Transfer-Encoding: no body
  kLength,   // Content-Length bytes
  kChunked,  // Transfer-Encoding: chunked
};

struct BodyPlan {
  int refusal = 0;  // the status to refuse the request with (400, 413), or 0
  BodyFraming framing = BodyFraming::kNone;
  // The declared length; for a chunked body the most its bytes on the wire,
  // chunk framing included, may be.
  std::size_t bytes = 0;
  // The HTTP library reads a body only for POST, PUT, PATCH, DELETE (and
  // PRI); any other request that declares one leaves it unread in the
  // connection, which must then end after the answer.
  bool read = true;
};

// Limits from request_limits.h: 8192 bytes for a form, 1 MiB for any other
// body. A Transfer-Encoding other than "chunked", or a Content-Length that
// is not a number (or two that differ), is refused with 400.
BodyPlan PlanBody(const httplib::Request& request);

}  // namespace vorlink
