#include "test_token.h"

#include <unistd.h>

#include <cstdlib>
#include <gtest/gtest.h>

#include "support/test_paths.h"

namespace vorlink::test {

bool MakeToken(const std::filesystem::path& folder, const std::string& label) {
  const std::string command = "'" + SourcePath("tools/make-softhsm-token.sh").string() + "' '" + folder.string() +
                              "' '" + label + "' " + kUserPin + " " + kSoPin + " 'Vorlink Test User' >/dev/null";
  return std::system(command.c_str()) == 0;
}

const TestToken* SharedTestToken() {
  static TestToken* token = []() -> TestToken* {
    if (::access(kSoftHsmModule, R_OK) != 0) return nullptr;
    static ScratchDir scratch;
    auto* made = new TestToken{scratch.path()};
    if (!MakeToken(made->folder, kTokenLabel)) return nullptr;
    return made;
  }();
  // SoftHSM2 reads its configuration when the module is initialised, so a
  // test that made a token of its own cannot leave it to the next one.
  if (token) ::setenv("SOFTHSM2_CONF", (token->folder / "softhsm2.conf").c_str(), 1);
  EXPECT_NE(token, nullptr) << "SoftHSM2 is not installed or the token could not be made";
  return token;
}

}  // namespace vorlink::test
