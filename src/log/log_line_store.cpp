#include "log/log_line_store.h"

#include <algorithm>

namespace vorlink {

void LogLineStore::AddLogLine(std::u16string_view text) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = lines_.size() - latest_lines_; i < lines_.size(); ++i) {
    std::erase(lines_[i], u'\r');
  }
  // Every kept line ends in a line feed; the new text adds its own.
  const std::size_t line_feeds = lines_.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), u'\n'));
  std::size_t added = 0;
  while (!text.empty()) {
    const auto end = text.find(u'\n');
    lines_.emplace_back(text.substr(0, end));
    ++added;
    text = end == std::u16string_view::npos ? std::u16string_view() : text.substr(end + 1);
  }
  // Past the maximum, the lines up to and including line number
  // (line feeds - maximum), counted from 0, go.
  if (line_feeds > kMaxLines) {
    const std::size_t dropped = std::min(lines_.size(), line_feeds - kMaxLines + 1);
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(dropped));
  }
  latest_lines_ = std::min(added, lines_.size());
}

void LogLineStore::Clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
  latest_lines_ = 0;
}

std::u16string LogLineStore::Text() const {
  std::lock_guard lock(mutex_);
  std::u16string text;
  for (const auto& line : lines_) {
    text += line;
    text += u"\r\n";
  }
  return text;
}

bool LogLineStore::Empty() const {
  std::lock_guard lock(mutex_);
  return lines_.empty();
}

}  // namespace vorlink
