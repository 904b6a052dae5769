// Base64, SHA-1, Big5 and UTF-8 members: known answers from outside the
// component, and the refusals that keep bad input from becoming bad text.

#include <gtest/gtest.h>

#include "component_client.h"

namespace vorlink::test {
namespace {

enum Dispid {
  kToBig5 = 36,
  kBig5 = 37,
  kToUtf8 = 38,
  kUtf8 = 39,
  kB64Encode = 40,
  kEncoded = 41,
  kB64Decode = 42,
  kDecoded = 43,
  kSha1 = 48,
  kSha1Data = 49,
  kFromBig5 = 62,
  kUnicode = 63
};
constexpr std::int32_t kBadArgument = 0x5005, kConversionFailed = 0x500E;

const std::string kChinese = "中華民國憑證管理中心";
const std::string kChineseBig5 = "pKS12KXBsOq+zMPSut6yeqSkpN8=";  // CP950 bytes A4A4 B5D8 ... A4DF

class EncodingMembers : public ::testing::Test {
 protected:
  ComponentClient component_{P11CRYPTO_LIBRARY};
};

TEST_F(EncodingMembers, Base64MatchesTheStandardVectorsBothWays) {
  const struct {
    std::string text, base64;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="},
               {"fooba", "Zm9vYmE="},
               {"foobar", "Zm9vYmFy"},
               {"中", "5Lit"},
               {"😀", "8J+YgA=="},
               {"a\nb", "YQpi"}};
  for (const auto& c : cases) {
    ASSERT_EQ(component_.Method(kB64Encode, {c.text}), 0) << c.text;
    EXPECT_EQ(component_.Text(kEncoded), c.base64) << c.text;
    ASSERT_EQ(component_.Method(kToUtf8, {c.text}), 0) << c.text;
    EXPECT_EQ(component_.Text(kUtf8), c.base64) << "UnicodeToUTF8 gives the same bytes: " << c.text;
    ASSERT_EQ(component_.Method(kB64Decode, {c.base64}), 0) << c.base64;
    EXPECT_EQ(component_.Text(kDecoded), c.text) << c.base64;
  }
}

TEST_F(EncodingMembers, Base64DecodeAcceptsLinesButNothingLoose) {
  const struct {
    std::string base64;
    std::int32_t code;
    std::string text;
  } cases[] = {
      {"Zm9v\r\nYmFy\n", 0, "foobar"},                                  // PEM-style lines
      {" Zm 9v ", 0, "foo"},           {"Zg", kBadArgument, ""},        // padding left off
      {"Zm8", kBadArgument, ""},       {"Z", kBadArgument, ""},         // six bits are no byte
      {"Zg=", kBadArgument, ""},                                        // half the padding
      {"Zg===", kBadArgument, ""},     {"Zm9v=", kBadArgument, ""},     // padding after a whole group
      {"=Zm9", kBadArgument, ""},      {"Zg==Zg==", kBadArgument, ""},  // data after the end
      {"Zh==", kBadArgument, ""},                                       // stray bits: a second spelling of "f"
      {"Zm9v!", kBadArgument, ""},     {"Zm9v-_", kBadArgument, ""},    // the URL alphabet is not this one
      {"/wAB", kConversionFailed, ""},                                  // bytes FF 00 01 are no UTF-8 text
  };
  for (const auto& c : cases) {
    ASSERT_EQ(component_.Method(kB64Decode, {std::string("Zm9vYmFy")}), 0);
    EXPECT_EQ(component_.Method(kB64Decode, {c.base64}), c.code) << c.base64;
    if (c.code == 0) {
      EXPECT_EQ(component_.Text(kDecoded), c.text) << c.base64;
    } else {
      EXPECT_FALSE(component_.ErrorMessage().empty()) << c.base64;
    }
  }
}

TEST_F(EncodingMembers, Sha1ReadsParam1AsTextOrAsBase64) {
  const struct {
    std::string data;
    std::int32_t input, code;
    std::string digest;
  } cases[] = {
      {"abc", 0, 0, "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},  // FIPS 180 "abc"
      {"", 0, 0, "2jmj7l5rSw0yVb/vlWAYkK/YBwk="},
      {"中文", 0, 0, "e+LS0gwQbu4INsm8K5OYkKeOj7M="},  // hashed as UTF-8
      {"/wAB", 1, 0, "JwZbDCgyE492TJwfpfnK/BgLLyQ="},  // bytes FF 00 01
      {"YWJj", 1, 0, "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},  // "abc" again
      {"a#c", 1, kBadArgument, ""},
      {"abc", 2, kBadArgument, ""},
      {"abc", -1, kBadArgument, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(component_.Method(kSha1, {c.data, c.input}), c.code) << c.data << " " << c.input;
    EXPECT_EQ(component_.Text(kSha1Data), c.digest) << c.data;  // empty after a refusal
  }
}

TEST_F(EncodingMembers, Big5RoundTripsTraditionalChinese) {
  ASSERT_EQ(component_.Method(kToBig5, {kChinese}), 0);
  EXPECT_EQ(component_.Text(kBig5), kChineseBig5);
  ASSERT_EQ(component_.Method(kFromBig5, {kChineseBig5}), 0);
  EXPECT_EQ(component_.Text(kUnicode), kChinese);
  const std::string mixed = "ABC 123 臺灣";
  ASSERT_EQ(component_.Method(kToBig5, {mixed}), 0);
  ASSERT_EQ(component_.Method(kFromBig5, {component_.Text(kBig5)}), 0);
  EXPECT_EQ(component_.Text(kUnicode), mixed);
}

TEST_F(EncodingMembers, Big5RefusesWhatItCannotHoldOrRead) {
  const struct {
    int dispid;
    std::string argument;
    std::int32_t code;
  } cases[] = {
      {kToBig5, "憑證😀", kConversionFailed},   // no emoji in CP950
      {kToBig5, "한국어", kConversionFailed},  // nor Hangul
      {kFromBig5, "pA==", kConversionFailed},  // a lone lead byte A4
      {kFromBig5, "pH8=", kConversionFailed},  // A4 7F: no such code
      {kFromBig5, "not Base64!", kBadArgument},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(component_.Method(kToBig5, {kChinese}), 0);
    ASSERT_EQ(component_.Method(kFromBig5, {kChineseBig5}), 0);
    EXPECT_EQ(component_.Method(c.dispid, {c.argument}), c.code) << c.argument;
    EXPECT_FALSE(component_.ErrorMessage().empty()) << c.argument;
    EXPECT_EQ(component_.Text(c.dispid == kToBig5 ? kBig5 : kUnicode), "") << c.argument << ": no older result stays";
  }
}

}  // namespace
}  // namespace vorlink::test
