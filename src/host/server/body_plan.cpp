#include "host/server/body_plan.h"

#include <httplib.h>
#include <strings.h>

#include <charconv>

#include "host/server/request_limits.h"

namespace vorlink {
namespace {

bool LibraryReadsBody(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE" || method == "PRI";
}

bool IsForm(const httplib::Request& request) {
  return request.get_header_value("Content-Type").starts_with("application/x-www-form-urlencoded");
}

// The one length every Content-Length header states, or false.
bool DeclaredLength(const httplib::Request& request, std::size_t& length) {
  const std::size_t count = request.get_header_value_count("Content-Length");
  for (std::size_t i = 0; i < count; ++i) {
    const std::string text = request.get_header_value("Content-Length", i);
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
    if (i > 0 && value != length) return false;
    length = value;
  }
  return true;
}

}  // namespace

BodyPlan PlanBody(const httplib::Request& request) {
  BodyPlan plan;
  plan.read = LibraryReadsBody(request.method);
  const std::size_t limit = IsForm(request) ? request_limits::kMaxFormBodyBytes : request_limits::kMaxBodyBytes;
  const std::size_t encodings = request.get_header_value_count("Transfer-Encoding");
  if (encodings > 0) {
    if (encodings > 1 || ::strcasecmp(request.get_header_value("Transfer-Encoding").c_str(), "chunked") != 0) {
      plan.refusal = 400;
      return plan;
    }
    plan.framing = BodyFraming::kChunked;
    plan.bytes = limit;
  } else if (request.has_header("Content-Length")) {
    if (!DeclaredLength(request, plan.bytes)) {
      plan.refusal = 400;
      return plan;
    }
    plan.framing = BodyFraming::kLength;
    if (plan.bytes > limit && plan.read) plan.refusal = 413;
  }
  if (!plan.read) plan.bytes = 0;  // nothing of it is read, so nothing is held
  return plan;
}

}  // namespace vorlink
