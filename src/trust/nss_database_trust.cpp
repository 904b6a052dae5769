#include "trust/nss_database_trust.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "log/diagnostic_log.h"
#include "tls/user_identity.h"

namespace vorlink {
namespace fs = std::filesystem;
namespace {

bool Succeeded(const platform::CommandOutput& output) { return output.status == 0; }

// Removes ORVA_SSLCA when it holds exactly the retired certificate. certutil
// deletes by nickname, and with several certificates under one nickname it
// deletes the newest, which need not be the retired one: such a nickname
// is left alone, with a line that says so.
void RemoveRetiredCa(DiagnosticLog& log, const CertutilRunner& run, const std::string& certutil, const fs::path& folder,
                     const AgentTrust& trust) {
  const auto listed = run(ListNicknameCommand(certutil, folder, kRetiredCaNickname));
  if (!Succeeded(listed)) return;
  const auto certificates = PemCertificates(listed.out);
  const bool holds_retired =
      std::find(certificates.begin(), certificates.end(), trust.retired_ca_der) != certificates.end();
  if (!holds_retired) return;
  if (certificates.size() > 1) {
    log.LogDebug("ORVA_SSLCA 含多張憑證, 未移除", folder.string());
    return;
  }
  if (Succeeded(run(DeleteCommand(certutil, folder, kRetiredCaNickname)))) {
    log.LogDebug("移除舊的共用 CA ORVA_SSLCA", folder.string());
  }
}

bool PrepareDatabase(const CertutilRunner& run, const std::string& certutil, const fs::path& folder) {
  std::error_code ec;
  if (fs::exists(folder / "cert9.db", ec)) return true;
  fs::create_directories(folder.parent_path(), ec);
  ::mkdir(folder.c_str(), 0700);
  return Succeeded(run(CreateDatabaseCommand(certutil, folder)));
}

}  // namespace

bool TrustNssDatabase(DiagnosticLog& log, const CertutilRunner& run, const std::string& certutil,
                      const fs::path& folder, const AgentTrust& trust) {
  if (!PrepareDatabase(run, certutil, folder)) {
    log.LogDebug("無法建立 NSS 憑證資料庫", folder.string());
    return false;
  }
  const auto listing = run(ListCommand(certutil, folder));
  if (!Succeeded(listing)) {
    log.LogDebug("無法讀取 NSS 憑證資料庫", folder.string());
    return false;
  }
  std::set<std::string> nicknames;
  for (const auto& entry : ParseCertificateList(listing.out)) nicknames.insert(entry.nickname);
  if (nicknames.count(kRetiredCaNickname)) RemoveRetiredCa(log, run, certutil, folder, trust);
  for (const auto& nickname : nicknames) {
    if (nickname.starts_with(kIdentityCaNamePrefix) && nickname != trust.ca_nickname &&
        Succeeded(run(DeleteCommand(certutil, folder, nickname)))) {
      log.LogDebug("移除先前的使用者 CA " + nickname, folder.string());
    }
  }
  if (nicknames.count(trust.ca_nickname)) return true;
  if (!Succeeded(run(ImportCaCommand(certutil, folder, trust.ca_nickname, trust.ca_file)))) {
    log.LogDebug("匯入使用者 CA 失敗", folder.string());
    return false;
  }
  log.LogDebug("匯入使用者 CA 到 NSS 憑證資料庫", folder.string());
  return true;
}

}  // namespace vorlink
