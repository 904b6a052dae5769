#include "log/log_line_store.h"

#include <algorithm>

#include "text/log_text.h"
#include "text/text_codec.h"

namespace vorlink {
namespace {

// The lines a text adds: one per line feed, and one more for a last line
// without one ("a\nb" is two lines, "a\n" one, "" none).
std::size_t LinesOf(std::string_view text) {
  const auto feeds = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  return feeds + (!text.empty() && !text.ends_with('\n') ? 1 : 0);
}

}  // namespace

void LogLineStore::AddLogLine(std::string_view text) {
  Entry entry{std::string(text), LinesOf(text), 0};
  const auto feeds = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  std::deque<Entry> gone;  // freed after the lock is let go
  std::lock_guard lock(mutex_);
  if (!entries_.empty()) {
    std::string& latest = entries_.back().text;
    if (latest.find('\r') != std::string::npos) std::erase(latest, '\r');
  }
  // Every kept line ends in a line feed; the new text adds its own. Past
  // the maximum, the lines up to and including line number
  // (line feeds - maximum), counted from 0, go.
  const std::size_t line_feeds = lines_ + feeds;
  lines_ += entry.lines;
  if (entry.lines > 0) entries_.push_back(std::move(entry));
  if (line_feeds <= kMaxLines) return;
  for (std::size_t drop = std::min(lines_, line_feeds - kMaxLines + 1); drop > 0 && !entries_.empty();) {
    Entry& front = entries_.front();
    const std::size_t here = std::min(drop, front.lines - front.dropped);
    front.dropped += here;
    lines_ -= here;
    drop -= here;
    if (front.dropped == front.lines) {
      gone.push_back(std::move(front));
      entries_.pop_front();
    }
  }
}

void LogLineStore::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  lines_ = 0;
}

std::u16string LogLineStore::Text() const {
  std::string text;
  {
    std::lock_guard lock(mutex_);
    for (const Entry& entry : entries_) {
      // As many lines as the append brought: a last line that held only CR
      // characters is still a line once they are dropped.
      std::string_view rest = entry.text;
      for (std::size_t line = 0; line < entry.lines; ++line) {
        const auto end = rest.find('\n');
        // Whatever a caller handed over, the window gets text.
        if (line >= entry.dropped) {
          AppendDecoded(text, rest.substr(0, end));
          text += "\r\n";
        }
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      }
    }
  }
  return DecodeUtf8(text);
}

bool LogLineStore::Empty() const {
  std::lock_guard lock(mutex_);
  return entries_.empty();
}

}  // namespace vorlink
