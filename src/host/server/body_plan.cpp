#include "host/server/body_plan.h"

#include <httplib.h>
#include <strings.h>

#include <charconv>
#include <iterator>

#include "host/server/request_limits.h"

namespace vorlink {
namespace {

bool LibraryReadsBody(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE" || method == "PRI";
}

std::size_t LimitFor(const httplib::Request& request) {
  const bool form = request.get_header_value("Content-Type").starts_with("application/x-www-form-urlencoded");
  return form ? request_limits::kMaxFormBodyBytes : request_limits::kMaxBodyBytes;
}

// The one length the Content-Length headers state, or false.
bool DeclaredLength(std::pair<httplib::Headers::const_iterator, httplib::Headers::const_iterator> headers,
                    std::size_t& length) {
  for (auto it = headers.first; it != headers.second; ++it) {
    const std::string& text = it->second;
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
    if (it != headers.first && value != length) return false;
    length = value;
  }
  return true;
}

}  // namespace

BodyPlan PlanBody(const httplib::Request& request) {
  BodyPlan plan;
  plan.read = LibraryReadsBody(request.method);
  const auto encodings = request.headers.equal_range("Transfer-Encoding");
  const auto lengths = request.headers.equal_range("Content-Length");
  if (encodings.first != encodings.second) {
    if (std::next(encodings.first) != encodings.second ||
        ::strcasecmp(encodings.first->second.c_str(), "chunked") != 0) {
      plan.refusal = 400;
      return plan;
    }
    plan.framing = BodyFraming::kChunked;
    plan.bytes = LimitFor(request);
  } else if (lengths.first != lengths.second) {
    if (!DeclaredLength(lengths, plan.bytes)) {
      plan.refusal = 400;
      return plan;
    }
    plan.framing = BodyFraming::kLength;
    if (plan.read && plan.bytes > request_limits::kMaxFormBodyBytes && plan.bytes > LimitFor(request)) {
      plan.refusal = 413;
    }
  }
  if (!plan.read) plan.bytes = 0;  // nothing of it is read, so nothing is held
  return plan;
}

}  // namespace vorlink
