#include "request/token_number.h"

#include <openssl/rand.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace vorlink {

std::int32_t ParseTokenField(std::string_view raw) {
  const std::string text(raw);
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

std::int32_t DrawTokenNumber() {
  unsigned char bytes[3] = {};
  if (RAND_bytes(bytes, sizeof bytes) != 1) std::abort();  // no safe token without randomness
  return (bytes[0] << 16) | (bytes[1] << 8) | bytes[2];
}

}  // namespace vorlink
