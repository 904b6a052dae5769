#include "trust/firefox_profiles.h"

#include <algorithm>
#include <fstream>
#include <set>

namespace vorlink {
namespace fs = std::filesystem;

std::vector<fs::path> FirefoxRoots(const fs::path& home, const std::string& xdg_config_home) {
  const fs::path config = xdg_config_home.empty() ? home / ".config" : fs::path(xdg_config_home);
  return {
      home / ".mozilla/firefox",
      config / "mozilla/firefox",
      home / "snap/firefox/common/.mozilla/firefox",
      home / ".var/app/org.mozilla.firefox/.mozilla/firefox",
      home / ".var/app/org.mozilla.firefox/config/mozilla/firefox",
  };
}

std::vector<fs::path> ExistingFirefoxRoots(const fs::path& home, const std::string& xdg_config_home) {
  std::vector<fs::path> roots;
  std::error_code ec;
  for (const auto& root : FirefoxRoots(home, xdg_config_home)) {
    if (fs::is_directory(root, ec)) roots.push_back(root);
  }
  return roots;
}

namespace {

std::string Trim(std::string s) {
  const char* space = " \t\r\n";
  s.erase(0, s.find_first_not_of(space));
  s.erase(s.find_last_not_of(space) + 1);
  return s;
}

// Profile folders named by profiles.ini: relative ones resolved in the root.
std::vector<fs::path> ListedProfiles(const fs::path& root) {
  std::ifstream ini(root / "profiles.ini");
  std::vector<fs::path> listed;
  std::string line, path;
  bool relative = true, in_profile = false;
  auto flush = [&] {
    if (in_profile && !path.empty()) listed.push_back(relative ? root / path : fs::path(path));
    path.clear();
    relative = true;
  };
  while (std::getline(ini, line)) {
    line = Trim(line);
    if (!line.empty() && line.front() == '[') {
      flush();
      in_profile = line.rfind("[Profile", 0) == 0;
    } else if (line.rfind("Path=", 0) == 0) {
      path = line.substr(5);
    } else if (line.rfind("IsRelative=", 0) == 0) {
      relative = line.substr(11) != "0";
    }
  }
  flush();
  return listed;
}

bool HoldsProfileFiles(const fs::path& folder) {
  std::error_code ec;
  for (const char* name : {"prefs.js", "times.json", "cert9.db"}) {
    if (fs::exists(folder / name, ec)) return true;
  }
  return false;
}

}  // namespace

std::vector<fs::path> FindFirefoxProfiles(const std::vector<fs::path>& roots) {
  std::set<fs::path> found;
  std::error_code ec;
  for (const auto& root : roots) {
    std::set<fs::path> listed;
    for (const auto& p : ListedProfiles(root)) listed.insert(p.lexically_normal());
    for (const auto& entry : fs::directory_iterator(root, ec)) {
      const auto name = entry.path().filename().string();
      if (name.empty() || name[0] == '.' || !entry.is_directory(ec)) continue;
      const fs::path folder = entry.path().lexically_normal();
      if (listed.count(folder) || HoldsProfileFiles(folder)) found.insert(folder);
    }
    for (const auto& p : listed) {
      if (!p.filename().string().starts_with(".") && fs::is_directory(p, ec)) found.insert(p);
    }
  }
  return {found.begin(), found.end()};
}

}  // namespace vorlink
