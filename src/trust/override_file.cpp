#include "trust/override_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace vorlink {

std::string NewOverrideFile(const std::vector<std::string>& entries) {
  std::string text =
      "# PSM Certificate Override Settings file\r\n"
      "# This is a generated file!  Do not edit.\r\n";
  for (const auto& entry : entries) text += entry + "\r\n";
  return text;
}

std::optional<std::string> AddMissingEntries(const std::string& content, const std::vector<std::string>& entries) {
  // The whole file is searched, NUL bytes included: stopping at a stray NUL
  // added the entries again on every start.
  std::string missing;
  for (const auto& entry : entries) {
    if (content.find(entry) == std::string::npos) missing += entry + "\r\n";
  }
  if (missing.empty()) return std::nullopt;
  // A last line without its line break would run into the first new entry
  // and spoil both for the browser.
  const bool open_last_line = !content.empty() && content.back() != '\n';
  return content + (open_last_line ? "\r\n" : "") + missing;
}

std::optional<std::string> DropLines(const std::string& content,
                                     const std::function<bool(std::string_view line)>& stale) {
  std::string kept;
  bool dropped = false;
  for (std::size_t start = 0; start < content.size();) {
    const auto end = content.find('\n', start);
    const std::size_t next = end == std::string::npos ? content.size() : end + 1;
    const std::string_view line(content.data() + start, next - start);
    if (stale(line.substr(0, line.find_last_not_of("\r\n") + 1))) {
      dropped = true;
    } else {
      kept.append(line);
    }
    start = next;
  }
  if (!dropped) return std::nullopt;
  return kept;
}

namespace {

bool WriteAll(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::size_t WriteFileAtomically(const std::filesystem::path& path, const std::string& content) {
  std::string temp = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  ::fchmod(fd, mode);
  const bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return 0;
  }
  return content.size();
}

}  // namespace vorlink
