#include "request/answer.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "text/text_codec.h"

namespace vorlink {
namespace {

// The numeric middle of an answer: at most 15 characters, so 20 suffice.
template <typename... Args>
std::string Framed(const char* format, Args... args) {
  char middle[20];
  std::snprintf(middle, sizeof middle, format, args...);
  return std::string("||") + middle + "||";
}

}  // namespace

std::string TextAnswer(std::int32_t code, std::u16string_view text) {
  return Framed("%d", code) + EncodeUtf8(text) + "||";
}

std::string NumberAnswer(std::int32_t code, std::int32_t value) { return Framed("%d||%d", code, value); }

std::string UnsignedAnswer(std::int32_t code, std::uint32_t value) { return Framed("%d||%u", code, value); }

std::int32_t TruncateSize(double value) {
  constexpr std::int32_t kInvalid = std::numeric_limits<std::int32_t>::min();
  if (std::isnan(value)) return kInvalid;
  const double t = std::trunc(value);
  if (t < -2147483648.0 || t > 2147483647.0) return kInvalid;
  return static_cast<std::int32_t>(t);
}

std::string SizeAnswer(std::int32_t code, double value) { return Framed("%d||%d", code, TruncateSize(value)); }

std::string TokenAnswer(std::int32_t token) { return Framed("%d||%d", kCodeRan, token); }

}  // namespace vorlink
