#include "trust/nss_databases.h"

namespace vorlink {
namespace fs = std::filesystem;
namespace {

// One browser home: where it keeps each of the two databases.
struct BrowserHome {
  fs::path root;    // must exist for the home to count
  fs::path legacy;  // <home>/.pki/nssdb
  fs::path xdg;     // <XDG_DATA_HOME>/pki/nssdb
};

std::vector<BrowserHome> BrowserHomes(const fs::path& home, const std::string& xdg_data_home) {
  const fs::path data = xdg_data_home.empty() ? home / ".local/share" : fs::path(xdg_data_home);
  std::vector<BrowserHome> homes = {{home, home / ".pki/nssdb", data / "pki/nssdb"}};
  const fs::path snap = home / "snap/chromium/current";
  homes.push_back({snap, snap / ".pki/nssdb", snap / ".local/share/pki/nssdb"});
  for (const char* id : {"org.chromium.Chromium", "com.google.Chrome"}) {
    const fs::path app = home / ".var/app" / id;
    homes.push_back({app, app / ".pki/nssdb", app / "data/pki/nssdb"});
  }
  return homes;
}

}  // namespace

std::vector<fs::path> BrowserNssDatabases(const fs::path& home, const std::string& xdg_data_home) {
  std::vector<fs::path> databases;
  std::error_code ec;
  for (const auto& browser : BrowserHomes(home, xdg_data_home)) {
    if (!fs::is_directory(browser.root, ec)) continue;
    const bool legacy = fs::is_directory(browser.legacy, ec);
    const bool xdg = fs::is_directory(browser.xdg, ec);
    if (legacy) databases.push_back(browser.legacy);
    if (xdg || !legacy) databases.push_back(browser.xdg);
  }
  return databases;
}

}  // namespace vorlink
