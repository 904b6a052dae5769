#include "trust/firefox_override_update.h"

#include <fstream>
#include <iterator>
#include <optional>

#include "log/diagnostic_log.h"
#include "trust/override_file.h"

namespace vorlink {
namespace fs = std::filesystem;
namespace {

std::optional<std::string> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string content((std::istreambuf_iterator<char>(in)), {});
  if (in.bad()) return std::nullopt;
  return content;
}

}  // namespace

bool UpdateOverrideFile(DiagnosticLog& log, const fs::path& profile, const std::vector<std::string>& entries,
                        const std::function<bool(std::string_view line)>& stale) {
  const fs::path file = profile / "cert_override.txt";
  std::error_code ec;
  std::string content;
  if (fs::exists(file, ec)) {
    auto existing = ReadWholeFile(file);
    if (!existing || existing->empty()) return false;
    auto kept = DropLines(*existing, stale);
    auto updated = AddMissingEntries(kept ? *kept : *existing, entries);
    if (!updated && !kept) return true;
    if (!updated) updated = std::move(kept);
    log.LogDebug("更新 Firefox 例外清單檔 cert_override.txt 檔");
    content = std::move(*updated);
  } else {
    log.LogDebug("建立 Firefox 例外清單檔 cert_override.txt 檔");
    content = NewOverrideFile(entries);
  }
  const bool stored = WriteFileAtomically(file, content) > 0;
  log.LogDebug(stored ? "cert_override.txt 檔存檔成功" : "cert_override.txt 檔存檔失敗");
  return true;
}

}  // namespace vorlink
