#include "text/log_text.h"

#include "text/text_codec.h"

namespace vorlink {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t SequenceLength(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  std::size_t n = lead < 0x80             ? 1
                  : (lead & 0xE0) == 0xC0 ? 2
                  : (lead & 0xF0) == 0xE0 ? 3
                  : (lead & 0xF8) == 0xF0 ? 4
                                          : 0;
  if (n == 0 || n > s.size()) return 0;
  try {
    DecodeUtf8(s.substr(0, n));
    return n;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

std::u16string ToLogText(std::string_view utf8) {
  try {
    return DecodeUtf8(utf8);
  } catch (const std::exception&) {
  }
  std::u16string out;
  while (!utf8.empty()) {
    const std::size_t n = SequenceLength(utf8);
    if (n == 0) {
      out.push_back(u'\uFFFD');
      utf8.remove_prefix(1);
    } else {
      out += DecodeUtf8(utf8.substr(0, n));
      utf8.remove_prefix(n);
    }
  }
  return out;
}

std::u16string Widen(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) out.push_back(static_cast<char16_t>(b));
  return out;
}

}  // namespace vorlink
