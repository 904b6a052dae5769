#include "request/trace_builder.h"

#include <httplib.h>

#include <cstdio>

#include "request/pin_fields.h"
#include "text/log_text.h"

namespace vorlink {
namespace {

std::u16string Stamp(const platform::LocalClock& clock, const char* what) {
  const platform::LocalTime t = clock();
  char line[512];
  std::snprintf(line, sizeof line, "[%04d/%02d/%02d %02d:%02d:%02d.%03d] %s\n", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.millisecond, what);
  return Widen(line);
}

std::u16string Length(const char* format, std::size_t bytes) {
  char piece[512];
  std::snprintf(piece, sizeof piece, format, static_cast<int>(bytes));
  return Widen(piece);
}

std::u16string Headers(const httplib::Headers& headers) {
  std::u16string text = u"- Headers : \n";
  for (const auto& [name, value] : headers) text += u"-- " + Widen(name) + u" : " + Widen(value) + u"\n";
  return text;
}

// The shown part of a parameter value: decoded, or stars for a PIN.
std::u16string ParamValue(std::string_view value, bool pin) {
  return pin ? std::u16string(PinStarCount(value), u'*') : ToLogText(value);
}

std::u16string ParamLine(const std::string& key, const std::string& value, bool pin) {
  std::u16string line = u"-- PARAM " + Widen(key) + u" = ";
  if (value.size() <= kTraceCut) {
    line += ParamValue(value, pin) + Length(" , length = %d bytes", value.size());
  } else {
    line +=
        ParamValue(std::string_view(value).substr(0, kTraceCut), pin) + Length(" ... length = %d bytes", value.size());
  }
  return line + u"\n";
}

std::u16string ParamLines(const httplib::Params& params) {
  const PinSlots pins = PinSlotsOf(params);
  std::u16string text = u"- Body :\n";
  for (const auto& [key, value] : params) text += ParamLine(key, value, IsPinField(key, pins));
  return text;
}

// A body the server did not decode is shown raw; the request handler reads
// it as query text, so PIN fields in it are hidden the same way.
std::u16string RawBodyLine(const std::string& body) {
  std::u16string line = u"- Body : " + Widen(MaskPinsInQueryText(body, kTraceCut));
  if (body.size() > kTraceCut) line += Length(" ... length = %d bytes", body.size());
  return line + u"\n";
}

}  // namespace

std::u16string BuildRequestTrace(const httplib::Request& request, const platform::LocalClock& clock) {
  std::u16string text = Stamp(clock, "https Request begin");
  text += u"- Method : " + Widen(request.method) + u"\n";
  text += u"- Path : " + Widen(request.path) + u"\n";
  text += Headers(request.headers);
  text += request.params.empty() ? RawBodyLine(request.body) : ParamLines(request.params);
  return text + Stamp(clock, "http Request end");
}

std::u16string BuildResponseTrace(const httplib::Response& response, const platform::LocalClock& clock) {
  std::u16string text = Stamp(clock, "https Response begin");
  text += Headers(response.headers);
  const std::string& body = response.body;
  if (body.size() <= kTraceCut) {
    text += u"- Body : " + ToLogText(body) + u"\n";
  } else {
    text += u"- Body : " + Widen(std::string_view(body).substr(0, kTraceCut)) +
            Length(" ... length = %d bytes", body.size()) + u"\n";
  }
  text += Length("- Body length : %d\n", body.size());
  return text + Stamp(clock, "https Response end");
}

}  // namespace vorlink
