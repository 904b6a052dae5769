// libFuzzer target: any bytes as a request body, decoded into the field
// map the way the request handler does, then parsed with recording stand-ins
// for InitDLL handling and the token table. Checks which service the parser
// chose and with what value; a value that is not UTF-8 may only end in
// "bad conversion".

#include <httplib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "request/answer.h"
#include "request/field_parser.h"
#include "request/messages.h"

namespace {

struct Recorder final : vorlink::InitDllService, vorlink::TokenCallService {
  std::string HandleInitDll(std::string_view value, const vorlink::PageOrigin& page) override {
    init.assign(value);
    origin = page;
    ++calls;
    return "init";
  }
  std::string LookupAndCall(std::string_view value, const vorlink::ArgumentArray&,
                            const vorlink::PageOrigin& page) override {
    token.assign(value);
    origin = page;
    ++calls;
    return "call";
  }
  std::string init, token;
  vorlink::PageOrigin origin;
  int calls = 0;
};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  httplib::Request request;
  request.body.assign(reinterpret_cast<const char*>(data), size);
  const vorlink::FieldMap fields = vorlink::TakeFieldMap(request);
  Recorder services;
  // The page's Origin header travels beside the fields, untouched.
  const vorlink::PageOrigin origin = size % 2 ? vorlink::PageOrigin("https://page.example") : std::nullopt;
  std::string answer;
  try {
    answer = vorlink::FieldParser(services, services).Parse(fields, origin);
  } catch (const std::range_error& e) {
    Check(std::strcmp(e.what(), "bad conversion") == 0 && services.calls == 0);
    return 0;
  }
  const std::string* init = vorlink::FirstField(fields, "InitDLL");
  const std::string* token = vorlink::FirstField(fields, "DLLToken");
  if (fields.empty()) {
    Check(answer.empty() && services.calls == 0);
  } else if (init) {
    Check(answer == "init" && services.init == *init && services.origin == origin);
  } else if (token) {
    Check(answer == "call" && services.token == *token && services.origin == origin);
  } else {
    Check(answer == vorlink::TextAnswer(vorlink::kCodeNotRun, vorlink::messages::kCgiContentError));
  }
  return 0;
}
