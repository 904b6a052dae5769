#include "soak_log_check.h"

#include <fstream>
#include <iterator>
#include <string_view>

namespace vorlink::bench {
namespace {

// "[2026/12/09 13:05:07.042] " is 26 bytes.
constexpr std::size_t kStampLength = 26;

bool IsStamp(std::string_view s) {
  constexpr std::string_view shape = "[0000/00/00 00:00:00.000] ";
  if (s.size() < kStampLength) return false;
  for (std::size_t i = 0; i < kStampLength; ++i) {
    if (shape[i] == '0' ? (s[i] < '0' || s[i] > '9') : s[i] != shape[i]) return false;
  }
  return true;
}

// Where the entry starting at `at` ends (one past its CR LF), or npos.
std::size_t EntryEnd(std::string_view text, std::size_t at, LogCheck& check) {
  const std::string_view rest = text.substr(at);
  if (!IsStamp(rest)) return std::string_view::npos;
  const std::string_view kind = rest.substr(kStampLength);
  std::string_view closing = "\r\n";
  if (kind.starts_with("https Request begin\r\n")) {
    closing = "] http Request end\r\n\r\n";
    ++check.request_traces;
  } else if (kind.starts_with("https Response begin\r\n")) {
    closing = "] https Response end\r\n\r\n";
    ++check.response_traces;
  } else if (!kind.starts_with("DEBUG - ") && !kind.starts_with("ERROR - ")) {
    return std::string_view::npos;
  }
  const std::size_t end = rest.find(closing);
  if (end == std::string_view::npos) return end;
  if (kind.find("服務子程式已逾時") < end) ++check.timeouts;
  return at + end + closing.size();
}

void CheckFile(const std::filesystem::path& file, LogCheck& check) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  ++check.files;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = EntryEnd(text, at, check);
    if (end == std::string_view::npos) {
      ++check.broken;
      if (check.problems.size() < 5) {
        check.problems.push_back(file.filename().string() + " at byte " + std::to_string(at) + ": '" +
                                 text.substr(at, 80) + "'");
      }
      const std::size_t next = text.find("\r\n[", at);  // resume at the next entry
      at = next == std::string::npos ? text.size() : next + 2;
      continue;
    }
    ++check.entries;
    at = end;
  }
}

}  // namespace

LogCheck CheckLogFolder(const std::filesystem::path& folder) {
  LogCheck check;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) CheckFile(entry.path(), check);
  return check;
}

}  // namespace vorlink::bench
