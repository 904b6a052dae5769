#include "log/diagnostic_log.h"

#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <thread>

#include "support/test_paths.h"
#include "text/text_codec.h"

namespace vorlink {
namespace {
namespace fs = std::filesystem;
using namespace std::string_literals;

platform::LocalTime Day(int day, int hour = 9) { return {2025, 1, day, hour, 5, 3, 42}; }

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class DiagnosticLogTest : public ::testing::Test {
 protected:
  std::unique_ptr<DiagnosticLog> MakeLog(std::uintmax_t roll_over = DiagnosticLog::kRollOverBytes) {
    auto log = std::make_unique<DiagnosticLog>([this] { return now_; }, roll_over);
    log->PrepareLogDirectory(dir_.path().string());
    return log;
  }
  fs::path File(int day, int index) {
    char name[64];
    std::snprintf(name, sizeof name, "NestoVorlink45.log.202501%02d-%03d", day, index);
    return dir_.path() / name;
  }
  void Touch(int day, int index) { std::ofstream(File(day, index)) << "x"; }

  test::ScratchDir dir_;
  platform::LocalTime now_ = Day(7);
};

TEST_F(DiagnosticLogTest, ScanPicksTheLastFileOfTheRunFromOne) {
  struct Case {
    std::vector<int> existing;
    int index;
  } cases[] = {{{}, 1}, {{1}, 1}, {{1, 2, 4}, 2}, {{2, 3}, 1}, {{1, 2, 3}, 3}};
  for (const auto& c : cases) {
    for (const auto& e : fs::directory_iterator(dir_.path())) fs::remove(e.path());
    for (int i : c.existing) Touch(7, i);
    Touch(6, 9);  // another day's files do not count
    auto owned = MakeLog();
    auto& log = *owned;
    log.ScanLogIndex();
    EXPECT_EQ(log.CurrentIndex(), c.index) << ::testing::PrintToString(c.existing);
  }
}

TEST_F(DiagnosticLogTest, AllIndexesTakenWritesToFileZero) {
  for (int i = 1; i <= 199; ++i) Touch(7, i);
  auto owned = MakeLog();
  auto& log = *owned;
  log.ScanLogIndex();
  EXPECT_EQ(log.CurrentIndex(), 0);
  log.LogDebug("x");
  EXPECT_TRUE(fs::exists(File(7, 0)));
}

TEST_F(DiagnosticLogTest, EntriesHaveTheirExactForms) {
  auto owned = MakeLog();
  auto& log = *owned;
  log.ScanLogIndex();
  log.LogDebug("IsProcessElevated()", 1);
  log.LogDebug("n", -1);
  log.LogDebug("版號", "4.5.23.1");
  log.LogError("https 服務啟動失敗");
  log.LogDebug(std::string_view("cut\0here", 8));
  EXPECT_EQ(Read(File(7, 1)),
            "[2025/01/07 09:05:03.042] DEBUG - IsProcessElevated() = (int)1\r\n"
            "[2025/01/07 09:05:03.042] DEBUG - n = (int)-1\r\n"
            "[2025/01/07 09:05:03.042] DEBUG - 版號 = 4.5.23.1\r\n"
            "[2025/01/07 09:05:03.042] ERROR - https 服務啟動失敗\r\n"
            "[2025/01/07 09:05:03.042] DEBUG - cut\0here\r\n"s);
}

TEST_F(DiagnosticLogTest, LongValuesAreCutAtThousandBytes) {
  auto owned = MakeLog();
  auto& log = *owned;
  log.ScanLogIndex();
  const std::pair<std::size_t, std::string> cases[] = {
      {999, std::string(999, 'a')},
      {1000, std::string(1000, 'a') + " ... length=1000 bytes"},
      {5000, std::string(1000, 'a') + " ... length=5000 bytes"},
  };
  for (const auto& [size, shown] : cases) {
    fs::remove(File(7, 1));
    log.LogDebug("v", std::string(size, 'a'));
    EXPECT_EQ(Read(File(7, 1)), "[2025/01/07 09:05:03.042] DEBUG - v = " + shown + "\r\n") << size;
  }
}

TEST_F(DiagnosticLogTest, EmptyAppendCreatesTheFileAndNothingElse) {
  auto owned = MakeLog();
  auto& log = *owned;
  log.ScanLogIndex();
  log.AppendLogText(u"");
  ASSERT_TRUE(fs::exists(File(7, 1)));
  EXPECT_EQ(fs::file_size(File(7, 1)), 0u);
}

TEST_F(DiagnosticLogTest, TheEntryThatCrossesTheLimitStaysWholeAndTheNextMovesOn) {
  auto owned = MakeLog(100);
  auto& log = *owned;
  log.ScanLogIndex();
  const std::u16string entry(60, u'x');
  log.AppendLogText(entry);  // 62 bytes
  log.AppendLogText(entry);  // 124: crosses the limit, stays here
  log.AppendLogText(entry);
  EXPECT_EQ(fs::file_size(File(7, 1)), 124u);
  EXPECT_EQ(fs::file_size(File(7, 2)), 62u);
  // A new day keeps the index.
  now_ = Day(8, 0);
  log.AppendLogText(u"after midnight");
  EXPECT_TRUE(fs::exists(File(8, 2)));
  EXPECT_FALSE(fs::exists(File(8, 1)));
}

TEST_F(DiagnosticLogTest, AFolderThatCannotBeCreatedLosesTheFileEntryOnly) {
  struct Viewer : LogViewerSink {
    void AddLogLine(std::u16string_view t) override { lines.emplace_back(t); }
    std::vector<std::u16string> lines;
  } viewer;
  std::ofstream(dir_.path() / "plain-file") << "x";
  DiagnosticLog log([this] { return now_; });
  log.PrepareLogDirectory((dir_.path() / "plain-file" / "Vorlink").string());
  log.ScanLogIndex();
  log.SetViewer(&viewer);
  log.LogError("still shown");
  ASSERT_EQ(viewer.lines.size(), 1u);
  EXPECT_EQ(EncodeUtf8(viewer.lines[0]), "[2025/01/07 09:05:03.042] ERROR - still shown");
}

TEST_F(DiagnosticLogTest, ConcurrentEntriesStayWholeAndNoneIsLost) {
  constexpr int kThreads = 8, kEntries = 2000;
  auto owned = MakeLog(64 * 1024);
  auto& log = *owned;
  log.ScanLogIndex();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kEntries; ++i) log.LogDebug("thread " + std::to_string(t), "entry " + std::to_string(i));
    });
  }
  for (auto& th : threads) th.join();

  std::set<std::string> seen;
  std::vector<int> last(kThreads, -1);
  int files = 0;
  for (int index = 1; fs::exists(File(7, index)); ++index, ++files) {
    std::istringstream in(Read(File(7, index)));
    std::string line;
    while (std::getline(in, line)) {
      ASSERT_TRUE(line.ends_with("\r")) << line;
      int t = -1, i = -1;
      ASSERT_EQ(std::sscanf(line.c_str(), "[2025/01/07 09:05:03.042] DEBUG - thread %d = entry %d\r", &t, &i), 2)
          << line;
      EXPECT_GT(i, last[t]) << "entries of one thread stay in order";
      last[t] = i;
      seen.insert(line);
    }
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kEntries));
  EXPECT_GT(files, 5) << "the files roll over at the limit";
}

}  // namespace
}  // namespace vorlink
