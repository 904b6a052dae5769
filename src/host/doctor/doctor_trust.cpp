// The user's identity, and every place a browser keeps trust: does it
// trust the agent's authority, and is the old shared authority gone.

#include <algorithm>
#include <chrono>
#include <ctime>

#include "host/agent_resources.h"
#include "host/doctor/doctor_checks.h"
#include "platform/resources/resource_ids.h"
#include "tls/identity_store.h"
#include "trust/certutil.h"
#include "trust/firefox_profiles.h"
#include "trust/nss_databases.h"

namespace vorlink {
namespace fs = std::filesystem;
namespace {

std::string Date(std::time_t t) {
  char text[32];
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
  return text;
}

std::string RestartFix(const DoctorSettings& settings) {
  return "(re)start the agent, which makes a new identity at start-up: kill -TERM $(pidof " + settings.program_name +
         "); " + settings.program_name + " &";
}

struct Database {
  std::string kind;  // "Chromium (NSS)", "Firefox profile"
  fs::path folder;
};

std::vector<Database> TrustLocations(const DoctorSettings& settings) {
  std::vector<Database> locations;
  for (const auto& db : BrowserNssDatabases(settings.home, settings.xdg_data_home)) {
    locations.push_back({"NSS database (Chromium and others)", db});
  }
  const auto roots = ExistingFirefoxRoots(settings.home, settings.xdg_config_home);
  for (const auto& profile : FindFirefoxProfiles(roots)) locations.push_back({"Firefox profile", profile});
  return locations;
}

void CheckDatabase(const DoctorSettings& settings, const std::string& certutil, const Database& db,
                   const UserIdentity& identity, DoctorReport& report) {
  const std::string where = db.kind + " " + db.folder.string();
  const fs::path ca_file = settings.identity_folder / kIdentityCaFile;
  const std::string nickname = identity.CaName();
  const std::string import = "certutil -A -d sql:" + db.folder.string() + " -n '" + nickname + "' -t " + kCaTrustFlags +
                             " -i " + ca_file.string();
  std::error_code ec;
  if (!fs::exists(db.folder / "cert9.db", ec)) {
    report.Problem(
        "trust", where + ": no certificate database yet",
        "start the agent (it makes one and imports its authority), or: certutil -N --empty-password -d sql:" +
            db.folder.string() + " && " + import);
    return;
  }
  const auto listed = platform::RunAndCapture(ListCommand(certutil, db.folder), std::chrono::seconds(10));
  if (listed.status != 0) {
    report.Problem("trust", where + ": certutil cannot read it",
                   "close the browsers using it and run the doctor again");
    return;
  }
  bool trusts = false, retired = false;
  for (const auto& entry : ParseCertificateList(listed.out)) {
    if (entry.nickname == nickname && entry.trust.find('C') < entry.trust.find(',')) trusts = true;
    if (entry.nickname == kRetiredCaNickname) retired = true;
  }
  if (retired) {
    const auto retired_ca = EmbeddedResources().Load(platform::kRetiredCaResourceType, platform::kIdrRetiredCa).bytes;
    const auto shared = PemCertificates(std::string(retired_ca.begin(), retired_ca.end()));
    const auto held = PemCertificates(
        platform::RunAndCapture(ListNicknameCommand(certutil, db.folder, kRetiredCaNickname), std::chrono::seconds(10))
            .out);
    retired = !shared.empty() && std::find(held.begin(), held.end(), shared.front()) != held.end();
  }
  if (retired) {
    report.Problem("trust", where + ": still trusts ORVA_SSLCA, the authority every earlier installation shared",
                   "certutil -D -d sql:" + db.folder.string() + " -n ORVA_SSLCA");
  }
  if (trusts) {
    report.Ok("trust", where + ": trusts the agent");
  } else {
    report.Problem("trust", where + ": does not trust the agent",
                   "restart the agent (it installs trust at start-up), or: " + import +
                       (db.kind == "Firefox profile" ? "" : "; then restart Chromium"));
  }
}

}  // namespace

void CheckIdentityAndTrust(const DoctorSettings& settings, DoctorReport& report) {
  std::string problem;
  const auto identity = LoadUserIdentity(settings.identity_folder, problem);
  const std::time_t now = std::time(nullptr);
  if (identity) problem = IdentityProblem(*identity, now);
  if (!identity || !problem.empty()) {
    report.Problem("identity", settings.identity_folder.string() + ": " + problem, RestartFix(settings));
    if (!identity) return;
  } else {
    report.Ok("identity", settings.identity_folder.string() + ": " + identity->CaName() + ", valid until " +
                              Date(identity->NotAfter()) + " (" + std::to_string((identity->NotAfter() - now) / 86400) +
                              " days); clients trust " + (settings.identity_folder / kIdentityCaFile).string());
  }
  const auto certutil = FindCertutil(settings.nss_tools_folder);
  if (!certutil) {
    report.Problem("trust", "certutil is missing, so browser trust can be neither installed nor checked",
                   "sudo apt-get install libnss3-tools");
    return;
  }
  if (ExistingFirefoxRoots(settings.home, settings.xdg_config_home).empty()) {
    report.Ok("trust", "no Firefox profiles (Firefox has not run for this user)");
  }
  for (const auto& db : TrustLocations(settings)) CheckDatabase(settings, *certutil, db, *identity, report);
}

}  // namespace vorlink
