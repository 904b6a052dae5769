#include "p11crypto/text/big5_text.h"

#include <iconv.h>

#include <cerrno>

namespace p11crypto {
namespace {

// One whole conversion (both encodings are stateless). A character iconv
// cannot convert, or an incomplete one at the end, fails the lot rather
// than being dropped.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  char buffer[4096];
  char* in_at = const_cast<char*>(in.data());
  size_t in_left = in.size();
  bool ok = true;
  while (ok && in_left > 0) {
    char* out_at = buffer;
    size_t out_left = sizeof(buffer);
    const size_t done = ::iconv(cd, &in_at, &in_left, &out_at, &out_left);
    out.append(buffer, out_at - buffer);
    ok = done != static_cast<size_t>(-1) || errno == E2BIG;  // EILSEQ, EINVAL: does not convert
  }
  ::iconv_close(cd);
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace

std::optional<std::string> Utf8ToBig5(std::string_view utf8) { return Convert("CP950", "UTF-8", utf8); }

std::optional<std::string> Big5ToUtf8(std::string_view big5) { return Convert("UTF-8", "CP950", big5); }

}  // namespace p11crypto
