// libFuzzer target for the UTF-8 conversions. Any bytes: decoding either
// succeeds or throws "bad conversion"; what decodes re-encodes to the same
// bytes (a four-byte sequence comes back as its two surrogates, three bytes
// each); the log's lenient form keeps valid text as it is and makes any
// other text valid, with one character per byte it replaces.
// The same bytes read as UTF-16 units: encoding never fails, and decodes
// back unchanged unless the text holds a surrogate.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "text/log_text.h"
#include "text/text_codec.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::size_t CountSurrogates(std::u16string_view text) {
  std::size_t n = 0;
  for (char16_t u : text) n += u >= 0xD800 && u <= 0xDFFF;
  return n;
}

bool HasSurrogate(std::u16string_view text) { return CountSurrogates(text) > 0; }

std::size_t CountCharacters(std::u16string_view text) { return text.size() - CountSurrogates(text) / 2; }

void CheckBytes(std::string_view bytes) {
  std::string lenient;
  vorlink::AppendDecoded(lenient, bytes);
  // Valid UTF-8 in every case, one character per character or bad byte.
  const std::u16string shown = vorlink::DecodeUtf8(lenient);
  Check(CountCharacters(shown) == vorlink::DecodedLength(bytes));
  std::u16string decoded;
  try {
    decoded = vorlink::DecodeUtf8(bytes);
  } catch (const std::range_error& e) {
    Check(std::strcmp(e.what(), "bad conversion") == 0);
    Check(lenient.find("\xEF\xBF\xBD") != std::string::npos);
    return;
  }
  Check(lenient == bytes && decoded.size() <= bytes.size());
  // Each four-byte sequence became a pair, and the pair becomes six bytes.
  const std::string again = vorlink::EncodeUtf8(decoded);
  Check(again.size() == bytes.size() + CountSurrogates(decoded));
  if (!HasSurrogate(decoded)) Check(again == bytes && vorlink::DecodeUtf8(again) == decoded);
}

void CheckUnits(const std::uint8_t* data, std::size_t size) {
  std::u16string units(size / 2, u'\0');
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
  const std::string encoded = vorlink::EncodeUtf8(units);
  try {
    Check(vorlink::DecodeUtf8(encoded) == units && !HasSurrogate(units));
  } catch (const std::range_error&) {
    Check(HasSurrogate(units));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckBytes(std::string_view(reinterpret_cast<const char*>(data), size));
  CheckUnits(data, size);
  return 0;
}
