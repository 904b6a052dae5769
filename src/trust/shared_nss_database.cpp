#include "trust/shared_nss_database.h"

#include "log/diagnostic_log.h"
#include "trust/certutil.h"

namespace vorlink {
namespace fs = std::filesystem;

std::vector<platform::Command> SharedNssDatabaseCommands(DiagnosticLog& log, const fs::path& home,
                                                         const std::string& certutil, const fs::path& ca_file) {
  const fs::path db = home / ".pki/nssdb";
  std::error_code ec;
  fs::create_directories(db, ec);
  if (ec) return {};
  const std::string database = "sql:" + db.string();
  std::vector<platform::Command> commands;
  if (!fs::exists(db / "cert9.db", ec)) commands.push_back({certutil, "-N", "--empty-password", "-d", database});
  commands.push_back(ImportCaCommand(certutil, ca_file, database));
  log.LogDebug("匯入 ORVA_SSLCA 到共用 NSS 憑證資料庫", db.string());
  return commands;
}

}  // namespace vorlink
