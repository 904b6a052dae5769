#include "log/diagnostic_log.h"

#include <algorithm>
#include <cstdlib>

#include "log/log_stamp.h"
#include "text/log_text.h"

namespace vorlink {
namespace {

// Per-thread buffers keep their room between entries; one that grew for a
// rare large entry is given back.
constexpr std::size_t kKeptBuffer = 16 * 1024;

std::string Prefix(const platform::LocalTime& t, std::string_view level) {
  std::string line;
  line.reserve(128);
  AppendStamp(line, t);
  line += ' ';
  line += level;
  line += " - ";
  return line;
}

// A value up to its first NUL; 1000 bytes or more are cut to 1000 and
// followed by the full length.
void AppendValue(std::string& line, std::string_view value) {
  value = value.substr(0, value.find('\0'));
  if (value.size() < DiagnosticLog::kValueCut) {
    AppendDecoded(line, value);
    return;
  }
  AppendDecoded(line, value.substr(0, DiagnosticLog::kValueCut));
  line += " ... length=";
  AppendNumber(line, static_cast<int>(value.size()));
  line += " bytes";
}

// The entry as the file gets it: every line feed as CR LF, and CR LF after.
void FileForm(std::string& out, std::string_view text) {
  out.clear();
  if (text.empty()) return;
  out.reserve(text.size() + 2 + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
  for (std::size_t at = 0;;) {
    const std::size_t feed = text.find('\n', at);
    out.append(text.substr(at, feed - at));
    if (feed == std::string_view::npos) break;
    out += "\r\n";
    at = feed + 1;
  }
  out += "\r\n";
}

}  // namespace

std::string DefaultLogDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state == '/') return std::string(state) + "/Vorlink";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.local/state/Vorlink";
  return "Vorlink";
}

DiagnosticLog::DiagnosticLog(platform::LocalClock clock, std::uintmax_t roll_over_bytes)
    : clock_(std::move(clock)), file_(std::string(kBaseName), roll_over_bytes, kMaxScannedIndex) {}

void DiagnosticLog::PrepareLogDirectory() { PrepareLogDirectory(DefaultLogDirectory()); }

void DiagnosticLog::PrepareLogDirectory(std::string directory) { file_.SetDirectory(std::move(directory)); }

void DiagnosticLog::ScanLogIndex() { file_.ScanIndex(clock_()); }

void DiagnosticLog::SetViewer(LogViewerSink* viewer) { viewer_.store(viewer); }

void DiagnosticLog::LogDebug(std::string_view message) { Message("DEBUG", message); }

void DiagnosticLog::LogDebug(std::string_view name, std::string_view value) {
  const platform::LocalTime now = clock_();
  std::string line = Prefix(now, "DEBUG");
  AppendDecoded(line, name);
  line += " = ";
  AppendValue(line, value);
  Emit(now, line);
}

void DiagnosticLog::LogDebug(std::string_view name, std::int32_t number) {
  const platform::LocalTime now = clock_();
  std::string line = Prefix(now, "DEBUG");
  AppendDecoded(line, name);
  line += " = (int)";
  AppendNumber(line, number);
  Emit(now, line);
}

void DiagnosticLog::LogError(std::string_view message) { Message("ERROR", message); }

void DiagnosticLog::Message(std::string_view level, std::string_view message) {
  const platform::LocalTime now = clock_();
  std::string line = Prefix(now, level);
  AppendDecoded(line, message);
  Emit(now, line);
}

void DiagnosticLog::Emit(const platform::LocalTime& time, const std::string& line) {
  if (LogViewerSink* viewer = viewer_.load()) viewer->AddLogLine(line);
  Write(time, line);
}

void DiagnosticLog::AppendLogText(std::string_view text) { Write(clock_(), text); }

// Formats outside the file's lock; the lock covers the write alone.
void DiagnosticLog::Write(const platform::LocalTime& date, std::string_view text) {
  thread_local std::string bytes;
  FileForm(bytes, text);
  file_.Append(date, bytes);
  if (bytes.capacity() > kKeptBuffer) std::string().swap(bytes);
}

std::string DiagnosticLog::LogDirectory() const { return file_.Directory(); }

int DiagnosticLog::CurrentIndex() const { return file_.Index(); }

std::string DiagnosticLog::CurrentFileName() const { return file_.PathFor(clock_()); }

}  // namespace vorlink
