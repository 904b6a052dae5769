#include "text/text_codec.h"

#include <stdexcept>

namespace vorlink {

namespace {

void AppendCodeUnit(std::string& out, unsigned u) {
  if (u < 0x80) {
    out.push_back(static_cast<char>(u));
  } else if (u < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (u >> 6)));
    out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (u >> 12)));
    out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
  }
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string EncodeUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (char16_t unit : text) AppendCodeUnit(out, unit);
  return out;
}

std::string EncodeUtf8Characters(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsHigh(text[i]) || i + 1 == text.size() || !IsLow(text[i + 1])) {
      AppendCodeUnit(out, text[i]);
      continue;
    }
    const char32_t cp = 0x10000 + ((char32_t{text[i]} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00);
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    ++i;
  }
  return out;
}

namespace {

[[noreturn]] void BadConversion() { throw std::range_error("bad conversion"); }

// Length of the sequence a lead byte starts, and the smallest code point
// that sequence may carry (anything below is an overlong form).
struct Lead {
  int length;
  char32_t minimum;
  char32_t bits;
};

Lead ReadLead(unsigned char b) {
  if (b < 0x80) return {1, 0, b};
  if ((b & 0xE0) == 0xC0) return {2, 0x80, b & 0x1Fu};
  if ((b & 0xF0) == 0xE0) return {3, 0x800, b & 0x0Fu};
  if ((b & 0xF8) == 0xF0) return {4, 0x10000, b & 0x07u};
  BadConversion();
}

void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

}  // namespace

std::u16string DecodeUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Lead lead = ReadLead(static_cast<unsigned char>(bytes[i]));
    if (i + lead.length > bytes.size()) BadConversion();
    char32_t cp = lead.bits;
    for (int k = 1; k < lead.length; ++k) {
      const auto c = static_cast<unsigned char>(bytes[i + k]);
      if ((c & 0xC0) != 0x80) BadConversion();
      cp = (cp << 6) | (c & 0x3Fu);
    }
    if (cp < lead.minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) BadConversion();
    AppendCodePoint(out, cp);
    i += lead.length;
  }
  return out;
}

}  // namespace vorlink
