// libFuzzer target: a request and a response built from the input (method,
// path, headers, parameters, body, each of any bytes and length), traced.
// Checks the frame of each trace (first and last line, every line ended
// by LF) and that a long value or body is cut before it is converted.

#include <httplib.h>

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

#include "request/trace_builder.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

vorlink::platform::LocalTime FixedTime() { return {2026, 12, 9, 13, 5, 7, 42}; }

bool Framed(const std::u16string& trace, std::u16string_view first, std::u16string_view last) {
  const std::u16string stamp = u"[2026/12/09 13:05:07.042] ";
  return trace.starts_with(stamp + std::u16string(first) + u"\n") &&
         trace.ends_with(stamp + std::u16string(last) + u"\n");
}

// What a trace may hold at most: the fixed lines, each name whole, each
// value and body cut to the limit (a cut byte becomes at most one unit).
std::size_t Bound(const httplib::Headers& headers, const httplib::Params& params, const std::string& body) {
  std::size_t bound = 200 + std::min(body.size(), vorlink::kTraceCut) + 40;
  for (const auto& [name, value] : headers) bound += name.size() + value.size() + 10;
  for (const auto& [key, value] : params) bound += key.size() + std::min(value.size(), vorlink::kTraceCut) + 50;
  return bound;
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

  const std::u16string asked = vorlink::BuildRequestTrace(request, FixedTime);
  Check(Framed(asked, u"https Request begin", u"http Request end"));
  Check(asked.size() <=
        Bound(request.headers, request.params, request.body) + request.method.size() + request.path.size());

  httplib::Response response;
  response.headers = request.headers;
  response.body = request.body;
  const std::u16string answered = vorlink::BuildResponseTrace(response, FixedTime);
  Check(Framed(answered, u"https Response begin", u"https Response end"));
  Check(answered.size() <= Bound(response.headers, {}, response.body));
  return 0;
}
