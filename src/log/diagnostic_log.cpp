#include "log/diagnostic_log.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "text/log_text.h"
#include "text/text_codec.h"

namespace vorlink {
namespace {

std::string Prefix(const platform::LocalTime& t, const char* level) {
  char buf[100];
  std::snprintf(buf, sizeof buf, "[%04d/%02d/%02d %02d:%02d:%02d.%03d] %s - ", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond, level);
  return buf;
}

// A value up to its first NUL; 1000 bytes or more are cut to 1000 and
// followed by the full length.
std::u16string ValueText(std::string_view value) {
  value = value.substr(0, value.find('\0'));
  if (value.size() < DiagnosticLog::kValueCut) return ToLogText(value);
  char note[100];
  std::snprintf(note, sizeof note, " ... length=%d bytes", static_cast<int>(value.size()));
  return ToLogText(value.substr(0, DiagnosticLog::kValueCut)) + ToLogText(note);
}

std::string DefaultLogDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state == '/') return std::string(state) + "/Vorlink";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.local/state/Vorlink";
  return "Vorlink";
}

}  // namespace

DiagnosticLog::DiagnosticLog(platform::LocalClock clock, std::uintmax_t roll_over_bytes)
    : clock_(std::move(clock)), roll_over_bytes_(roll_over_bytes) {}

void DiagnosticLog::PrepareLogDirectory() { PrepareLogDirectory(DefaultLogDirectory()); }

void DiagnosticLog::PrepareLogDirectory(std::string directory) {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);  // a failure loses file entries only
  std::lock_guard lock(mutex_);
  directory_ = std::move(directory);
}

std::string DiagnosticLog::FileName(const platform::LocalTime& date, int index) const {
  char name[512];
  std::snprintf(name, sizeof name, "%s/%s.log.%04d%02d%02d-%03d", directory_.c_str(), std::string(kBaseName).c_str(),
                date.year, date.month, date.day, index);
  return name;
}

void DiagnosticLog::ScanLogIndex() {
  std::lock_guard lock(mutex_);
  if (directory_.empty()) return;
  const platform::LocalTime today = clock_();
  for (int i = 1; i <= kMaxScannedIndex; ++i) {
    std::FILE* file = std::fopen(FileName(today, i).c_str(), "rb");
    if (!file) {
      index_ = i == 1 ? 1 : i - 1;
      return;
    }
    std::fclose(file);
  }
  // All 199 exist: the index keeps 0 and entries go to file 000.
}

void DiagnosticLog::SetViewer(LogViewerSink* viewer) {
  std::lock_guard lock(mutex_);
  viewer_ = viewer;
}

void DiagnosticLog::LogDebug(std::string_view message) {
  Emit(ToLogText(Prefix(clock_(), "DEBUG")) + ToLogText(message));
}

void DiagnosticLog::LogDebug(std::string_view name, std::string_view value) {
  Emit(ToLogText(Prefix(clock_(), "DEBUG")) + ToLogText(name) + u" = " + ValueText(value));
}

void DiagnosticLog::LogDebug(std::string_view name, std::int32_t number) {
  char piece[100];
  std::snprintf(piece, sizeof piece, " = (int)%d", number);
  Emit(ToLogText(Prefix(clock_(), "DEBUG")) + ToLogText(name) + ToLogText(piece));
}

void DiagnosticLog::LogError(std::string_view message) {
  Emit(ToLogText(Prefix(clock_(), "ERROR")) + ToLogText(message));
}

void DiagnosticLog::Emit(const std::u16string& line) {
  LogViewerSink* viewer;
  {
    std::lock_guard lock(mutex_);
    viewer = viewer_;
  }
  if (viewer) viewer->AddLogLine(line);
  AppendLogText(line);
}

void DiagnosticLog::AppendLogText(std::u16string_view text) {
  const std::string bytes = text.empty() ? std::string() : EncodeUtf8(text) + "\r\n";
  std::lock_guard lock(mutex_);
  if (directory_.empty()) return;
  std::FILE* file = std::fopen(FileName(clock_(), index_).c_str(), "ab");
  if (!file) return;  // lost for the file only; the viewer has the line
  if (!bytes.empty()) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
    const long length = std::ftell(file);
    if (length > 0 && static_cast<std::uintmax_t>(length) > roll_over_bytes_) ++index_;
  }
  std::fclose(file);
}

std::string DiagnosticLog::LogDirectory() const {
  std::lock_guard lock(mutex_);
  return directory_;
}

int DiagnosticLog::CurrentIndex() const {
  std::lock_guard lock(mutex_);
  return index_;
}

std::string DiagnosticLog::CurrentFileName() const {
  std::lock_guard lock(mutex_);
  return FileName(clock_(), index_);
}

}  // namespace vorlink
