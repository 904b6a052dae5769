#pragma once
// The request and response traces: multi-line UTF-8 texts, each line ended
// by LF, that show what arrived and what left. Values and bodies are cut to
// their first 1000 bytes before any conversion; the full length is noted.
// PIN fields (see pin_fields.h) show as stars, in the parameter lines and
// in a raw body alike.

#include <string>

#include "platform/clock/local_time.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace vorlink {

inline constexpr std::size_t kTraceCut = 1000;

std::string BuildRequestTrace(const httplib::Request& request, const platform::LocalClock& clock);
std::string BuildResponseTrace(const httplib::Response& response, const platform::LocalClock& clock);

}  // namespace vorlink
