#include "request/trace_builder.h"

#include <httplib.h>

#include "log/log_stamp.h"
#include "request/pin_fields.h"
#include "text/log_text.h"

namespace vorlink {
namespace {

// Room for a typical trace, so that building it allocates once.
constexpr std::size_t kTypicalTrace = 1024;

void StampLine(std::string& text, const platform::LocalClock& clock, std::string_view what) {
  AppendStamp(text, clock());
  text += ' ';
  text += what;
  text += '\n';
}

void LengthNote(std::string& text, std::string_view before, std::size_t bytes, std::string_view after) {
  text += before;
  AppendNumber(text, static_cast<int>(bytes));
  text += after;
}

void Headers(std::string& text, const httplib::Headers& headers) {
  text += "- Headers : \n";
  for (const auto& [name, value] : headers) {
    text += "-- ";
    AppendWidened(text, name);
    text += " : ";
    AppendWidened(text, value);
    text += '\n';
  }
}

// The shown part of a parameter value: decoded, or stars for a PIN.
void ParamValue(std::string& text, std::string_view value, bool pin) {
  if (pin) {
    text.append(PinStarCount(value), '*');
  } else {
    AppendDecoded(text, value);
  }
}

void ParamLines(std::string& text, const httplib::Params& params, const PinMask& pins) {
  text += "- Body :\n";
  for (const auto& [key, value] : params) {
    text += "-- PARAM ";
    AppendWidened(text, key);
    text += " = ";
    const bool pin = pins.Hides(key, value);
    if (value.size() <= kTraceCut) {
      ParamValue(text, value, pin);
      LengthNote(text, " , length = ", value.size(), " bytes\n");
    } else {
      ParamValue(text, std::string_view(value).substr(0, kTraceCut), pin);
      LengthNote(text, " ... length = ", value.size(), " bytes\n");
    }
  }
}

// A body the server did not decode is shown raw; the request handler reads
// it as query text, so PIN fields in it are hidden the same way.
void RawBodyLine(std::string& text, const std::string& body, const PinMask& pins) {
  text += "- Body : ";
  AppendWidened(text, pins.Masked(body, kTraceCut));
  if (body.size() > kTraceCut) LengthNote(text, " ... length = ", body.size(), " bytes");
  text += '\n';
}

}  // namespace

std::string BuildRequestTrace(const httplib::Request& request, const platform::LocalClock& clock) {
  std::string text;
  text.reserve(kTypicalTrace);
  StampLine(text, clock, "https Request begin");
  text += "- Method : ";
  AppendWidened(text, request.method);
  text += "\n- Path : ";
  AppendWidened(text, request.path);
  text += '\n';
  Headers(text, request.headers);
  const PinMask pins(request);
  if (request.params.empty()) {
    RawBodyLine(text, request.body, pins);
  } else {
    ParamLines(text, request.params, pins);
  }
  StampLine(text, clock, "http Request end");
  return text;
}

std::string BuildResponseTrace(const httplib::Response& response, const platform::LocalClock& clock) {
  std::string text;
  text.reserve(kTypicalTrace);
  StampLine(text, clock, "https Response begin");
  Headers(text, response.headers);
  const std::string& body = response.body;
  text += "- Body : ";
  if (body.size() <= kTraceCut) {
    AppendDecoded(text, body);
  } else {
    AppendWidened(text, std::string_view(body).substr(0, kTraceCut));
    LengthNote(text, " ... length = ", body.size(), " bytes");
  }
  LengthNote(text, "\n- Body length : ", body.size(), "\n");
  StampLine(text, clock, "https Response end");
  return text;
}

}  // namespace vorlink
