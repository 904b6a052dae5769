#include "text/log_text.h"

#include <gtest/gtest.h>

namespace vorlink {
namespace {

const std::string kBad = "\xef\xbf\xbd";  // U+FFFD

// Well-formed UTF-8 passes unchanged; each byte that does not start a
// well-formed sequence shows as U+FFFD and the next byte is tried afresh.
TEST(AppendDecoded, KeepsUtf8AndReplacesEachBadByte) {
  const struct {
    const char* name;
    std::string bytes, shown;
    std::size_t characters;
  } cases[] = {
      {"ascii with a NUL", std::string("a\0b", 3), std::string("a\0b", 3), 3},
      {"two and three bytes", "\xc3\xa9\xe7\x84\xa1", "\xc3\xa9\xe7\x84\xa1", 2},
      {"beyond U+FFFF stays four bytes", "\xf0\x9f\x98\x80!", "\xf0\x9f\x98\x80!", 2},
      {"highest code point", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf", 1},
      {"stray continuation", "a\x80z", "a" + kBad + "z", 3},
      {"cut short", "\xe7\x84", kBad + kBad, 2},
      {"cut short before ascii", "ok\xe7\x84X", "ok" + kBad + kBad + "X", 5},
      {"overlong", "\xc0\xaf\xe0\x80\xaf", kBad + kBad + kBad + kBad + kBad, 5},
      {"encoded surrogate", "\xed\xa0\x80", kBad + kBad + kBad, 3},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", kBad + kBad + kBad + kBad, 4},
      {"a surrogate pair as two halves", "\xed\xa0\xbd\xed\xb8\x80", kBad + kBad + kBad + kBad + kBad + kBad, 6},
  };
  for (const auto& c : cases) {
    std::string out = ">";
    AppendDecoded(out, c.bytes);
    EXPECT_EQ(out, ">" + c.shown) << c.name;
    EXPECT_EQ(DecodedLength(c.bytes), c.characters) << c.name;
  }
}

TEST(AppendWidened, EachByteIsTheCharacterOfItsNumber) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"\xc3\xa9", "\xc3\x83\xc2\xa9"},  // UTF-8 bytes are not decoded
      {"\x80\xff", "\xc2\x80\xc3\xbf"},
      {std::string("\0", 1), std::string("\0", 1)},
  };
  for (const auto& [bytes, shown] : cases) {
    std::string out;
    AppendWidened(out, bytes);
    EXPECT_EQ(out, shown);
  }
}

}  // namespace
}  // namespace vorlink
