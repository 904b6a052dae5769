#pragma once
// The agent's file log: dated files that roll over by size, DEBUG and ERROR
// entries, and raw appends of prepared texts (the request traces). Every
// formatted entry also goes to the execution-log viewer when one is set.
// Texts are UTF-8 throughout; the file gets each entry with one write, its
// line feeds as CR LF and a CR LF after it, as a text-mode append would.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "log/log_file.h"
#include "log/log_viewer_sink.h"
#include "platform/clock/local_time.h"

namespace vorlink {

// $XDG_STATE_HOME/Vorlink, else ~/.local/state/Vorlink; "Vorlink" in the
// working folder when no home is known.
std::string DefaultLogDirectory();

class DiagnosticLog {
 public:
  static constexpr std::string_view kBaseName = "NestoVorlink45";
  // A file that has grown past this many bytes sends the next entry to the
  // next index.
  static constexpr std::uintmax_t kRollOverBytes = 10567680;
  static constexpr int kMaxScannedIndex = 199;
  // Values of this many bytes or more are cut to it and get a length note.
  static constexpr std::size_t kValueCut = 1000;

  explicit DiagnosticLog(platform::LocalClock clock = platform::NowLocalTime,
                         std::uintmax_t roll_over_bytes = kRollOverBytes);

  // Sets the log folder ($XDG_STATE_HOME/Vorlink, else
  // ~/.local/state/Vorlink; "Vorlink" in the working folder when no home
  // is known) and creates it with its parents. The folder is the user's
  // alone (0700) and so are the log files in it (0600), old ones included.
  void PrepareLogDirectory();
  // Same with an explicit folder (tests, and hosts that know better).
  void PrepareLogDirectory(std::string directory);
  // Chooses today's file index from the files already there.
  void ScanLogIndex();

  // The viewer receives every formatted entry; nullptr detaches it.
  void SetViewer(LogViewerSink* viewer);

  // Messages, names and values are UTF-8; bytes that are not show as U+FFFD.
  void LogDebug(std::string_view message);
  void LogDebug(std::string_view name, std::string_view value);
  void LogDebug(std::string_view name, std::int32_t number);
  void LogError(std::string_view message);
  // Appends UTF-8 `text` (which may hold line feeds) as one entry, without
  // prefix and without the viewer. An empty text creates the day's file and
  // writes nothing.
  void AppendLogText(std::string_view text);

  std::string LogDirectory() const;
  int CurrentIndex() const;
  // The file today's entries go to.
  std::string CurrentFileName() const;

 private:
  void Message(std::string_view level, std::string_view message);
  void Emit(const platform::LocalTime& time, const std::string& line);
  void Write(const platform::LocalTime& date, std::string_view text);

  platform::LocalClock clock_;
  std::atomic<LogViewerSink*> viewer_{nullptr};
  LogFile file_;
};

}  // namespace vorlink
