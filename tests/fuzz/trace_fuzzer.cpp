// libFuzzer target: a request and a response built from the input (method,
// path, headers, parameters, body, each of any bytes and length), traced.
// Checks the frame of each trace (first and last line, every line ended
// by LF), that it is valid UTF-8, and that a long value or body is cut
// before it is converted.

#include <httplib.h>

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

#include "request/trace_builder.h"
#include "text/log_text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

vorlink::platform::LocalTime FixedTime() { return {2026, 12, 9, 13, 5, 7, 42}; }

bool Framed(const std::string& trace, std::string_view first, std::string_view last) {
  const std::string stamp = "[2026/12/09 13:05:07.042] ";
  return trace.starts_with(stamp + std::string(first) + "\n") && trace.ends_with(stamp + std::string(last) + "\n");
}

// What a trace may hold at most: the fixed lines, each name whole, each
// value and body cut to the limit (a cut byte becomes at most three bytes:
// U+FFFD).
std::size_t Bound(const httplib::Headers& headers, const httplib::Params& params, const std::string& body) {
  std::size_t bound = 200 + 3 * std::min(body.size(), vorlink::kTraceCut) + 40;
  for (const auto& [name, value] : headers) bound += 2 * (name.size() + value.size()) + 10;
  for (const auto& [key, value] : params) bound += 2 * key.size() + 3 * std::min(value.size(), vorlink::kTraceCut) + 50;
  return bound;
}

// The trace is valid UTF-8 whatever the request held.
bool ValidUtf8(const std::string& text) {
  std::string shown;
  vorlink::AppendDecoded(shown, text);
  return shown == text;
}

std::string Piece(FuzzedDataProvider& input) { return input.ConsumeRandomLengthString(3000); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  httplib::Request request;
  request.method = Piece(input);
  request.path = Piece(input);
  for (int n = input.ConsumeIntegralInRange(0, 4); n > 0; --n) request.headers.emplace(Piece(input), Piece(input));
  for (int n = input.ConsumeIntegralInRange(0, 4); n > 0; --n) request.params.emplace(Piece(input), Piece(input));
  request.body = input.ConsumeRemainingBytesAsString();

  const std::string asked = vorlink::BuildRequestTrace(request, FixedTime);
  Check(Framed(asked, "https Request begin", "http Request end") && ValidUtf8(asked));
  Check(asked.size() <=
        Bound(request.headers, request.params, request.body) + 2 * (request.method.size() + request.path.size()));

  httplib::Response response;
  response.headers = request.headers;
  response.body = request.body;
  const std::string answered = vorlink::BuildResponseTrace(response, FixedTime);
  Check(Framed(answered, "https Response begin", "https Response end") && ValidUtf8(answered));
  Check(answered.size() <= Bound(response.headers, {}, response.body));
  return 0;
}
