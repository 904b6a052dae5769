#include "text/text_codec.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace vorlink {
namespace {

struct EncodeCase {
  const char* name;
  std::u16string text;
  std::string utf8;
};

TEST(EncodeUtf8, WritesEachUtf16UnitAsItsOwnSequence) {
  const EncodeCase cases[] = {
      {"ascii", u"||0||", "||0||"},
      {"two bytes", u"\u00e9", "\xc3\xa9"},
      {"chinese", u"無效", "\xe7\x84\xa1\xe6\x95\x88"},
      {"pair becomes two three-byte sequences", u"\U0001F600", "\xed\xa0\xbd\xed\xb8\x80"},
      {"lone low surrogate", std::u16string(1, char16_t(0xDC00)), "\xed\xb0\x80"},
      {"embedded nul", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeUtf8(c.text), c.utf8) << c.name;
}

// What the log shows of UTF-16 text: characters, not units.
TEST(EncodeUtf8Characters, WritesAPairAsOneFourByteSequence) {
  const EncodeCase cases[] = {
      {"ascii and chinese", u"a無", "a\xe7\x84\xa1"},
      {"pair", u"x\U0001F600y", "x\xf0\x9f\x98\x80y"},
      {"lone high at the end", std::u16string(1, char16_t(0xD83D)), "\xed\xa0\xbd"},
      {"low before high", std::u16string({char16_t(0xDE00), char16_t(0xD83D)}), "\xed\xb8\x80\xed\xa0\xbd"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeUtf8Characters(c.text), c.utf8) << c.name;
}

TEST(DecodeUtf8, AcceptsWellFormedText) {
  EXPECT_EQ(DecodeUtf8(""), u"");
  EXPECT_EQ(DecodeUtf8("GetVersion"), u"GetVersion");
  EXPECT_EQ(DecodeUtf8("\xe7\x84\xa1"), u"無");
  EXPECT_EQ(DecodeUtf8("\xf0\x9f\x98\x80"), u"\U0001F600");
  EXPECT_EQ(DecodeUtf8("\xf4\x8f\xbf\xbf"), u"\U0010FFFF");
  EXPECT_EQ(DecodeUtf8(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(DecodeUtf8, RefusesWhatIsNotUtf8WithBadConversion) {
  const char* cases[] = {
      "\x80",              // stray continuation byte
      "\xc3",              // truncated two-byte sequence
      "\xe7\x84",          // truncated three-byte sequence
      "\xc0\xaf",          // overlong '/'
      "\xe0\x80\xaf",      // overlong three-byte form
      "\xf0\x80\x80\xaf",  // overlong four-byte form
      "\xed\xa0\x80",      // encoded high surrogate
      "\xed\xbf\xbf",      // encoded low surrogate
      "\xf4\x90\x80\x80",  // above U+10FFFF
      "\xf8\x88\x80\x80\x80",
      "\xff",
      "ok\xe7\x84X",  // continuation replaced by ASCII
  };
  for (const char* bytes : cases) {
    try {
      DecodeUtf8(bytes);
      ADD_FAILURE() << "accepted " << ::testing::PrintToString(std::string(bytes));
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), "bad conversion");
    }
  }
}

}  // namespace
}  // namespace vorlink
