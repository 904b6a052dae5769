#include "request/answer.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

#include "request/messages.h"

namespace vorlink {
namespace {

TEST(Answer, FormsAreFramedByDoubleBars) {
  const std::pair<std::string, std::string> cases[] = {
      {TextAnswer(-1, messages::kInvalidFunctionName),
       "||-1||\xe7\x84\xa1\xe6\x95\x88\xe7\x9a\x84 Function \xe5\x90\x8d\xe7\xa8\xb1||"},
      {TextAnswer(0, u""), "||0||||"},
      {TextAnswer(0, u"a||b"), "||0||a||b||"},
      {TextAnswer(0, u"\U0001F600"), "||0||\xed\xa0\xbd\xed\xb8\x80||"},
      {NumberAnswer(0, std::numeric_limits<std::int32_t>::min()), "||0||-2147483648||"},
      {NumberAnswer(-1, -1), "||-1||-1||"},
      {UnsignedAnswer(0, 4294967295u), "||0||4294967295||"},
      {UnsignedAnswer(-1, 0), "||-1||0||"},
      {SizeAnswer(0, 1.9), "||0||1||"},
      {SizeAnswer(0, -1.9), "||0||-1||"},
      {SizeAnswer(0, 2147483647.9), "||0||2147483647||"},
      {SizeAnswer(0, 2147483648.0), "||0||-2147483648||"},
      {SizeAnswer(0, -2147483649.0), "||0||-2147483648||"},
      {SizeAnswer(0, std::nan("")), "||0||-2147483648||"},
      {SizeAnswer(0, INFINITY), "||0||-2147483648||"},
      {TokenAnswer(16777215), "||0||16777215||"},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

TEST(Answer, VersionIsTheAgentsOwn) { EXPECT_EQ(TextAnswer(0, messages::kAgentVersion), "||0||4.5.23.1||"); }

}  // namespace
}  // namespace vorlink
