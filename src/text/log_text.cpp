#include "text/log_text.h"

#include <algorithm>

namespace vorlink {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool InRange(unsigned char b, unsigned char low, unsigned char high) { return b >= low && b <= high; }

// Length of the well-formed UTF-8 sequence at the start of `s` (which is not
// empty), or 0. The ranges of the second byte are what rule out overlong
// forms, surrogates and code points above U+10FFFF.
std::size_t SequenceLength(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (InRange(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (InRange(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (InRange(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < length || !InRange(static_cast<unsigned char>(s[1]), low, high)) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!InRange(static_cast<unsigned char>(s[i]), 0x80, 0xBF)) return 0;
  }
  return length;
}

}  // namespace

void AppendDecoded(std::string& out, std::string_view bytes) {
  std::size_t run = 0;  // start of the well-formed bytes not yet appended
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = SequenceLength(bytes.substr(i));
    if (n > 0) {
      i += n;
      continue;
    }
    out.append(bytes.substr(run, i - run));
    out.append(kReplacement);
    run = ++i;
  }
  out.append(bytes.substr(run));
}

void AppendWidened(std::string& out, std::string_view bytes) {
  const auto high = std::count_if(bytes.begin(), bytes.end(), [](char c) { return c & 0x80; });
  if (high == 0) {
    out.append(bytes);
    return;
  }
  out.reserve(out.size() + bytes.size() + static_cast<std::size_t>(high));
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
}

std::size_t DecodedLength(std::string_view bytes) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < bytes.size(); ++count) i += std::max<std::size_t>(1, SequenceLength(bytes.substr(i)));
  return count;
}

}  // namespace vorlink
