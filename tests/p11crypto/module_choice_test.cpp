// Which library a module name from a page may load: p11-kit's system-wide
// registrations and the administrator's allow-list decide, nothing else.

#include "p11crypto/pkcs11/module_choice.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <gtest/gtest.h>

#include "support/test_paths.h"

namespace p11crypto {
namespace {
namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text, mode_t mode = 0644) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
  ::chmod(path.c_str(), mode);
}

TEST(ModuleChoice, OnlyTheProxyRegisteredModulesAndAllowedPathsAreChosen) {
  if (::geteuid() != 0) GTEST_SKIP() << "the allow-list must belong to root";
  vorlink::test::ScratchDir dir;
  const fs::path d = dir.path();
  const ModuleSources sources{{d / "etc", d / "share"}, d / "lib", d / "allow"};
  Write(d / "share/vendor.module", "# packaged\nmodule: libvendor.so\n");
  Write(d / "etc/vendor.module", "module: /opt/admin/libvendor.so\n");  // the administrator's wins
  Write(d / "share/abs.module", "critical: yes\nmodule:  /opt/abs/libabs.so \n");
  Write(d / "share/nomodule.module", "critical: yes\n");
  Write(d / "share/bad name.module", "module: /opt/bad/libbad.so\n");
  Write(d / "share/notes.txt", "module: /opt/notes/libnotes.so\n");
  Write(d / "allow/tokens.list", "# reader drivers\n/opt/allowed/libx.so\n\n");
  Write(d / "allow/open.list", "/opt/writable/liby.so\n", 0666);
  Write(d / "allow/other.txt", "/opt/other/libz.so\n");
  Write(d / "foreign/tokens.list", "/opt/foreign/libf.so\n");
  ::chown((d / "foreign").c_str(), 65534, 65534);
  const ModuleSources foreign{{}, d / "lib", d / "foreign"};

  const struct {
    std::string name;
    std::optional<std::string> library;
  } cases[] = {
      {"", kProxyModule},
      {"VendorPKCS11.DLL", kProxyModule},
      {"vendor", "/opt/admin/libvendor.so"},
      {"abs", "/opt/abs/libabs.so"},
      {"/opt/abs/libabs.so", "/opt/abs/libabs.so"},
      {"/opt/allowed/libx.so", "/opt/allowed/libx.so"},
      {(d / "lib/libvendor.so").string(), std::nullopt},  // the packaged one is overridden
      {"libvendor.so", std::nullopt},
      {"nomodule", std::nullopt},
      {"bad name", std::nullopt},
      {"/opt/bad/libbad.so", std::nullopt},
      {"/opt/notes/libnotes.so", std::nullopt},
      {"/opt/writable/liby.so", std::nullopt},  // a list others may change
      {"/opt/other/libz.so", std::nullopt},     // not a .list file
      {"/opt/allowed/libx.so ", std::nullopt},
      {"/opt/allowed/../allowed/libx.so", std::nullopt},
      {"# reader drivers", std::nullopt},
      {std::string("/opt/allowed/libx.so\0", 21), std::nullopt},
      {"/dev/ptmx", std::nullopt},
      {"/etc/shadow", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseModuleLibrary(c.name, sources), c.library) << c.name;
  EXPECT_EQ(ChooseModuleLibrary("/opt/foreign/libf.so", foreign), std::nullopt) << "a folder root does not own";
}

}  // namespace
}  // namespace p11crypto
