#include "log/log_stamp.h"

#include <charconv>
#include <cstdio>

namespace vorlink {
namespace {

// Writes `value` as exactly `width` digits, zero-padded; false when it does
// not fit (the caller then formats it the slow way).
bool PutDigits(char*& at, int value, int width) {
  int limit = 1;
  for (int i = 0; i < width; ++i) limit *= 10;
  if (value < 0 || value >= limit) return false;
  for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
  at += width;
  return true;
}

}  // namespace

void AppendStamp(std::string& out, const platform::LocalTime& t) {
  char stamp[32];
  char* at = stamp;
  *at++ = '[';
  bool fits = PutDigits(at, t.year, 4);
  *at++ = '/';
  fits = fits && PutDigits(at, t.month, 2);
  *at++ = '/';
  fits = fits && PutDigits(at, t.day, 2);
  *at++ = ' ';
  fits = fits && PutDigits(at, t.hour, 2);
  *at++ = ':';
  fits = fits && PutDigits(at, t.minute, 2);
  *at++ = ':';
  fits = fits && PutDigits(at, t.second, 2);
  *at++ = '.';
  fits = fits && PutDigits(at, t.millisecond, 3);
  *at++ = ']';
  if (fits) {
    out.append(stamp, at);
    return;
  }
  char wide[100];
  const int n = std::snprintf(wide, sizeof wide, "[%04d/%02d/%02d %02d:%02d:%02d.%03d]", t.year, t.month, t.day, t.hour,
                              t.minute, t.second, t.millisecond);
  out.append(wide, static_cast<std::size_t>(n));
}

void AppendNumber(std::string& out, long long number) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  out.append(digits, end);
}

}  // namespace vorlink
