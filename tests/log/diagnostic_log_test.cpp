#include "log/diagnostic_log.h"

#include <atomic>
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

// The file is CR LF throughout, as a text-mode append writes it: each line
// feed of an entry becomes CR LF and every entry ends with CR LF, so a
// trace (whose lines end with LF) is followed by an empty line.
TEST_F(DiagnosticLogTest, EveryLineOfTheFileEndsWithCrLf) {
  auto log = MakeLog();
  log->ScanLogIndex();
  log->LogDebug("v", "two\nlines");
  log->LogDebug("crlf", "a\r\nb");
  log->AppendLogText("[t] https Request begin\n- Method : POST\n[t] http Request end\n");
  log->LogError("");
  const std::string text = Read(File(7, 1));
  EXPECT_EQ(text,
            "[2025/01/07 09:05:03.042] DEBUG - v = two\r\nlines\r\n"
            "[2025/01/07 09:05:03.042] DEBUG - crlf = a\r\r\nb\r\n"
            "[t] https Request begin\r\n- Method : POST\r\n[t] http Request end\r\n\r\n"
            "[2025/01/07 09:05:03.042] ERROR - \r\n");
}

// Logged values are UTF-8 as they came; bytes that are not UTF-8 become
// U+FFFD, so the file is valid UTF-8 whatever a page sends.
TEST_F(DiagnosticLogTest, TheFileIsValidUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},  // one four-byte character, not two surrogate halves
      {"\xff", "\xef\xbf\xbd"},
      {"\xed\xa0\xbd", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
  };
  auto log = MakeLog();
  log->ScanLogIndex();
  int day = 10;  // each case on a day of its own, so in a file of its own
  for (const auto& [value, shown] : cases) {
    now_ = Day(++day);
    log->LogDebug("值", value);
    const std::string text = Read(File(day, 1));
    EXPECT_EQ(text, "[2025/01/" + std::to_string(day) + " 09:05:03.042] DEBUG - 值 = " + shown + "\r\n");
    EXPECT_NO_THROW(DecodeUtf8(text));
  }
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
  int day = 10;  // each case on a day of its own, so in a file of its own
  for (const auto& [size, shown] : cases) {
    now_ = Day(++day);
    log.LogDebug("v", std::string(size, 'a'));
    EXPECT_EQ(Read(File(day, 1)), "[2025/01/" + std::to_string(day) + " 09:05:03.042] DEBUG - v = " + shown + "\r\n")
        << size;
  }
}

TEST_F(DiagnosticLogTest, EmptyAppendCreatesTheFileAndNothingElse) {
  auto owned = MakeLog();
  auto& log = *owned;
  log.ScanLogIndex();
  log.AppendLogText("");
  ASSERT_TRUE(fs::exists(File(7, 1)));
  EXPECT_EQ(fs::file_size(File(7, 1)), 0u);
}

TEST_F(DiagnosticLogTest, TheEntryThatCrossesTheLimitStaysWholeAndTheNextMovesOn) {
  auto owned = MakeLog(100);
  auto& log = *owned;
  log.ScanLogIndex();
  const std::string entry(60, 'x');
  log.AppendLogText(entry);  // 62 bytes
  log.AppendLogText(entry);  // 124: crosses the limit, stays here
  log.AppendLogText(entry);
  EXPECT_EQ(fs::file_size(File(7, 1)), 124u);
  EXPECT_EQ(fs::file_size(File(7, 2)), 62u);
  // A new day keeps the index.
  now_ = Day(8, 0);
  log.AppendLogText("after midnight");
  EXPECT_TRUE(fs::exists(File(8, 2)));
  EXPECT_FALSE(fs::exists(File(8, 1)));
}

TEST_F(DiagnosticLogTest, AFolderThatCannotBeCreatedLosesTheFileEntryOnly) {
  struct Viewer : LogViewerSink {
    void AddLogLine(std::string_view t) override { lines.emplace_back(t); }
    std::vector<std::string> lines;
  } viewer;
  std::ofstream(dir_.path() / "plain-file") << "x";
  DiagnosticLog log([this] { return now_; });
  log.PrepareLogDirectory((dir_.path() / "plain-file" / "Vorlink").string());
  log.ScanLogIndex();
  log.SetViewer(&viewer);
  log.LogError("still shown");
  ASSERT_EQ(viewer.lines.size(), 1u);
  EXPECT_EQ(viewer.lines[0], "[2025/01/07 09:05:03.042] ERROR - still shown");
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

// The numbers of the "entry = N" lines in every file of the folder, each
// as often as it was found.
std::multiset<int> EntriesIn(const fs::path& folder) {
  std::multiset<int> found;
  for (const auto& file : fs::directory_iterator(folder)) {
    std::istringstream in(Read(file.path()));
    for (std::string line; std::getline(in, line);) {
      int n = -1;
      if (std::sscanf(line.c_str(), "[2025/01/07 09:05:03.042] DEBUG - entry = %d", &n) == 1) found.insert(n);
    }
  }
  return found;
}

// The user deletes or renames the day's file while entries arrive: every
// entry logged after that is found once, in the renamed file or in a new
// one under the old name; the deleted file's last entries are copied on.
TEST_F(DiagnosticLogTest, DeletingOrRenamingTheFileLosesNoLaterEntry) {
  constexpr int kEntries = 3000;
  for (const bool rename : {false, true}) {
    for (const auto& e : fs::directory_iterator(dir_.path())) fs::remove(e.path());
    auto log = MakeLog();
    log->ScanLogIndex();
    std::atomic<int> logged{0};
    std::thread writer([&] {
      for (int i = 0; i < kEntries; ++i) {
        log->LogDebug("entry", std::to_string(i));
        logged = i + 1;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    while (logged < kEntries / 4) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (rename) {
      fs::rename(File(7, 1), dir_.path() / "renamed.log");
    } else {
      fs::remove(File(7, 1));
    }
    const int later = logged;  // entries from here on were logged after the file went
    writer.join();
    log.reset();
    const std::multiset<int> found = EntriesIn(dir_.path());
    for (int i = rename ? 0 : later; i < kEntries; ++i) {
      ASSERT_EQ(found.count(i), 1u) << (rename ? "renamed" : "deleted") << ", entry " << i << " of " << later;
    }
    EXPECT_TRUE(fs::exists(File(7, 1)));
  }
}

TEST_F(DiagnosticLogTest, TheFolderAndItsLogFilesAreTheUsersAlone) {
  const fs::path folder = dir_.path() / "state" / "Vorlink";
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms(0755));
  const fs::path old_file = folder / "NestoVorlink45.log.20250101-001";
  const fs::path other_file = folder / "notes.txt";
  for (const auto& p : {old_file, other_file}) {
    std::ofstream(p) << "x";
    fs::permissions(p, fs::perms(0644));
  }
  DiagnosticLog log([this] { return now_; });
  log.PrepareLogDirectory(folder.string());
  log.ScanLogIndex();
  log.LogDebug("x");
  DiagnosticLog fresh([this] { return now_; });
  fresh.PrepareLogDirectory((dir_.path() / "new" / "Vorlink").string());
  const auto mode = [](const fs::path& p) { return static_cast<int>(fs::status(p).permissions()); };
  EXPECT_EQ(mode(folder), 0700) << "an existing folder is tightened";
  EXPECT_EQ(mode(dir_.path() / "new" / "Vorlink"), 0700) << "a new folder is made so";
  EXPECT_EQ(mode(old_file), 0600) << "an existing log file is tightened";
  EXPECT_EQ(mode(folder / "NestoVorlink45.log.20250107-001"), 0600);
  EXPECT_EQ(mode(other_file), 0644) << "files that are not the log's stay as they are";
}

}  // namespace
}  // namespace vorlink
