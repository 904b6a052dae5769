#include "desktop/log/diagnostic_log.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "request/text_codec.h"

// Provisional implementation: formats entries and appends them to today's
// file. Rotation and the index scan come with the full log.

namespace vorlink {
namespace {

std::string Prefix(const platform::LocalTime& t, const char* level) {
  char buf[100];
  std::snprintf(buf, sizeof buf, "[%04d/%02d/%02d %02d:%02d:%02d.%03d] %s - ", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond, level);
  return buf;
}

std::u16string Widen(std::string_view utf8) {
  try {
    return DecodeUtf8(utf8);
  } catch (const std::exception&) {
    return std::u16string(utf8.begin(), utf8.end());
  }
}

}  // namespace

DiagnosticLog::DiagnosticLog(platform::LocalClock clock) : clock_(std::move(clock)) {}

void DiagnosticLog::PrepareLogDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  std::string base = state && *state ? state : std::string(home ? home : "") + "/.local/state";
  PrepareLogDirectory(base + "/Vorlink");
}

void DiagnosticLog::PrepareLogDirectory(std::string directory) {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  std::lock_guard lock(mutex_);
  directory_ = std::move(directory);
}

void DiagnosticLog::ScanLogIndex() {
  std::lock_guard lock(mutex_);
  index_ = 1;
}

void DiagnosticLog::SetViewer(LogViewerSink* viewer) {
  std::lock_guard lock(mutex_);
  viewer_ = viewer;
}

void DiagnosticLog::LogDebug(std::string_view message) {
  Emit(Widen(Prefix(clock_(), "DEBUG")) + Widen(message));
}

void DiagnosticLog::LogDebug(std::string_view name, std::string_view value) {
  Emit(Widen(Prefix(clock_(), "DEBUG")) + Widen(name) + u" = " + Widen(value));
}

void DiagnosticLog::LogDebug(std::string_view name, std::int32_t number) {
  Emit(Widen(Prefix(clock_(), "DEBUG")) + Widen(name) + Widen(" = (int)" + std::to_string(number)));
}

void DiagnosticLog::LogError(std::string_view message) {
  Emit(Widen(Prefix(clock_(), "ERROR")) + Widen(message));
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
  std::lock_guard lock(mutex_);
  if (directory_.empty()) return;
  const platform::LocalTime t = clock_();
  char name[512];
  std::snprintf(name, sizeof name, "%s/%s.log.%04d%02d%02d-%03d", directory_.c_str(),
                std::string(kBaseName).c_str(), t.year, t.month, t.day, index_);
  std::ofstream out(name, std::ios::binary | std::ios::app);
  if (!out || text.empty()) return;
  out << EncodeUtf8(text) << "\r\n";
}

std::string DiagnosticLog::LogDirectory() const {
  std::lock_guard lock(mutex_);
  return directory_;
}

int DiagnosticLog::CurrentIndex() const {
  std::lock_guard lock(mutex_);
  return index_;
}

}  // namespace vorlink
