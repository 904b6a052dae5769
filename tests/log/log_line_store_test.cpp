#include "log/log_line_store.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace vorlink {
namespace {

std::size_t Lines(const std::u16string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), u'\n'));
}

TEST(LogLineStore, KeepsTheNewestLinesAndNeverMoreThan101) {
  LogLineStore store;
  EXPECT_TRUE(store.Empty());
  for (int i = 1; i <= 150; ++i) {
    store.AddLogLine("entry " + std::to_string(i % 10) + "#" + std::string(static_cast<std::size_t>(i), '.'));
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
  for (int i = 0; i < 100; ++i) store.AddLogLine("x");
  EXPECT_EQ(Lines(store.Text()), 100u);
  store.AddLogLine("y");
  EXPECT_EQ(Lines(store.Text()), 101u);
  store.AddLogLine("z");
  EXPECT_EQ(Lines(store.Text()), 100u);
  EXPECT_TRUE(store.Text().ends_with(u"y\r\nz\r\n"));
}

TEST(LogLineStore, ClearThenAddHoldsExactlyThatEntry) {
  LogLineStore store;
  store.AddLogLine("old");
  store.Clear();
  EXPECT_TRUE(store.Empty());
  store.AddLogLine("[t] https Request begin\n- Method : POST\n");
  EXPECT_EQ(store.Text(), u"[t] https Request begin\r\n- Method : POST\r\n");
}

TEST(LogLineStore, EachEntryBecomesItsOwnLine) {
  LogLineStore store;
  store.AddLogLine("first");
  store.AddLogLine("second\r\n");  // a CR the entry brings is dropped on the next append
  store.AddLogLine("third");
  EXPECT_EQ(store.Text(), u"first\r\nsecond\r\nthird\r\n");
}

// The viewer's rule stated as a rebuild of the whole text on every append:
// drop every CR of the kept text, add the entry, split at line feeds, keep
// the lines past (line feeds - 100), end each with CR LF.
std::u16string RebuiltText(const std::u16string& text, std::u16string_view entry) {
  std::u16string combined;
  std::copy_if(text.begin(), text.end(), std::back_inserter(combined), [](char16_t c) { return c != u'\r'; });
  combined += entry;
  const auto line_feeds = Lines(combined);
  std::vector<std::u16string_view> lines;
  for (std::u16string_view rest(combined); !rest.empty();) {
    const auto end = rest.find(u'\n');
    lines.push_back(rest.substr(0, end));
    rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
  }
  std::u16string rebuilt;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (line_feeds > LogLineStore::kMaxLines && i <= line_feeds - LogLineStore::kMaxLines) continue;
    rebuilt.append(lines[i]);
    rebuilt += u"\r\n";
  }
  return rebuilt;
}

TEST(LogLineStore, AppendingLineByLineGivesWhatARebuildWould) {
  std::mt19937 random(45);
  const char16_t pieces[] = {u'a', u'\r', u'\n', u'\n', u'b'};
  for (int round = 0; round < 20; ++round) {
    LogLineStore store;
    std::u16string model;
    for (int entry = 0; entry < 400; ++entry) {
      std::u16string text(random() % (round < 10 ? 6 : 40), u' ');
      for (auto& c : text) c = pieces[random() % 5];
      if (random() % 50 == 0) {
        store.Clear();
        model.clear();
      }
      store.AddLogLine(std::string(text.begin(), text.end()));  // ASCII pieces
      model = RebuiltText(model, text);
      ASSERT_EQ(store.Text(), model) << "round " << round << ", entry " << entry;
      ASSERT_EQ(store.Empty(), model.empty());
    }
  }
}

}  // namespace
}  // namespace vorlink
