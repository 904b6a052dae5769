// Base64 as the members read and write it.

#include "p11crypto/text/base64.h"

#include <gtest/gtest.h>

namespace p11crypto {
namespace {

TEST(Base64, DecodesWhatEncodeWritesAndRefusesTheRest) {
  const struct {
    std::string text;
    std::optional<std::string> bytes;
  } cases[] = {
      {"", ""},
      {"Zg==", "f"},
      {"Zm8=", "fo"},
      {"Zm9v", "foo"},
      {"Zg", std::nullopt},
      {"Zm8", std::nullopt},   // padding is required
      {"Zh==", std::nullopt},  // stray bits after the last byte
      {"Zm9v\r\nYmFy \t", "foobar"},
      {"AP8=", std::string("\0\xff", 2)},
      {"Z", std::nullopt},    // six bits make no byte
      {"Zg=", std::nullopt},  // half the padding
      {"Zg===", std::nullopt},
      {"=Zg=", std::nullopt},
      {"Zg==Zg==", std::nullopt},  // nothing after the padding
      {"Zm9v=", std::nullopt},
      {"Zm-v", std::nullopt},  // the URL alphabet is not this one
      {std::string("Zm9v\0", 5), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Base64DecodeToString(c.text), c.bytes) << c.text;
    if (c.bytes && c.text.find_first_of(" \r\n") == std::string::npos && c.text.size() % 4 == 0) {
      EXPECT_EQ(Base64Encode(*c.bytes), c.text);
    }
  }
}

}  // namespace
}  // namespace p11crypto
