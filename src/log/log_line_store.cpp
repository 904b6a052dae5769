#include "log/log_line_store.h"

#include <algorithm>

#include "text/log_text.h"
#include "text/text_codec.h"

namespace vorlink {

void LogLineStore::AddLogLine(std::string_view text) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = lines_.size() - latest_lines_; i < lines_.size(); ++i) {
    std::erase(lines_[i], '\r');
  }
  // Every kept line ends in a line feed; the new text adds its own.
  const std::size_t line_feeds = lines_.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  std::size_t added = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines_.emplace_back(text.substr(0, end));
    ++added;
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
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
  std::string text;
  {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_) {
      AppendDecoded(text, line);  // whatever a caller handed over, the window gets text
      text += "\r\n";
    }
  }
  return DecodeUtf8(text);
}

bool LogLineStore::Empty() const {
  std::lock_guard lock(mutex_);
  return lines_.empty();
}

}  // namespace vorlink
