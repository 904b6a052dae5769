#include "desktop/log/log_line_store.h"

#include <algorithm>
#include <vector>

namespace vorlink {

void LogLineStore::AddLogLine(std::u16string_view text) {
  std::lock_guard lock(mutex_);
  std::u16string combined;
  combined.reserve(text_.size() + text.size());
  std::copy_if(text_.begin(), text_.end(), std::back_inserter(combined), [](char16_t c) { return c != u'\r'; });
  combined += text;

  const auto line_feeds = static_cast<std::size_t>(std::count(combined.begin(), combined.end(), u'\n'));
  std::vector<std::u16string_view> lines;
  std::u16string_view rest(combined);
  while (!rest.empty()) {
    const auto end = rest.find(u'\n');
    lines.push_back(rest.substr(0, end));
    rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
  }

  std::u16string rebuilt;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (line_feeds > kMaxLines && i <= line_feeds - kMaxLines) continue;
    rebuilt.append(lines[i]);
    rebuilt += u"\r\n";
  }
  text_ = std::move(rebuilt);
}

void LogLineStore::Clear() {
  std::lock_guard lock(mutex_);
  text_.clear();
}

std::u16string LogLineStore::Text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

bool LogLineStore::Empty() const {
  std::lock_guard lock(mutex_);
  return text_.empty();
}

}  // namespace vorlink
