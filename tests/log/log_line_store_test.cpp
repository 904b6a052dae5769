#include "desktop/log/log_line_store.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vorlink {
namespace {

std::size_t Lines(const std::u16string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), u'\n')); }

TEST(LogLineStore, KeepsTheNewestLinesAndNeverMoreThan101) {
  LogLineStore store;
  EXPECT_TRUE(store.Empty());
  for (int i = 1; i <= 150; ++i) {
    store.AddLogLine(u"entry " + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + u"#" +
                     std::u16string(static_cast<std::size_t>(i), u'.'));
    ASSERT_LE(Lines(store.Text()), 101u) << i;
  }
  const std::u16string text = store.Text();
  // The last entry is the newest, oldest first; CR LF after every line.
  EXPECT_TRUE(text.ends_with(std::u16string(150, u'.') + u"\r\n"));
  EXPECT_EQ(std::count(text.begin(), text.end(), u'\r'), static_cast<long>(Lines(text)));
  EXPECT_GE(Lines(text), 100u);
}

TEST(LogLineStore, OneHundredAndOneThenBackToOneHundred) {
  LogLineStore store;
  for (int i = 0; i < 100; ++i) store.AddLogLine(u"x");
  EXPECT_EQ(Lines(store.Text()), 100u);
  store.AddLogLine(u"y");
  EXPECT_EQ(Lines(store.Text()), 101u);
  store.AddLogLine(u"z");
  EXPECT_EQ(Lines(store.Text()), 100u);
  EXPECT_TRUE(store.Text().ends_with(u"y\r\nz\r\n"));
}

TEST(LogLineStore, ClearThenAddHoldsExactlyThatEntry) {
  LogLineStore store;
  store.AddLogLine(u"old");
  store.Clear();
  EXPECT_TRUE(store.Empty());
  store.AddLogLine(u"[t] https Request begin\n- Method : POST\n");
  EXPECT_EQ(store.Text(), u"[t] https Request begin\r\n- Method : POST\r\n");
}

TEST(LogLineStore, EachEntryBecomesItsOwnLine) {
  LogLineStore store;
  store.AddLogLine(u"first");
  store.AddLogLine(u"second\r\n");  // a CR the entry brings is dropped on the next append
  store.AddLogLine(u"third");
  EXPECT_EQ(store.Text(), u"first\r\nsecond\r\nthird\r\n");
}

}  // namespace
}  // namespace vorlink
