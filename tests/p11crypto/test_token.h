#pragma once
// A fresh SoftHSM2 token for the component tests: made once per test
// program by tools/make-softhsm-token.sh in a scratch folder, with
// SOFTHSM2_CONF pointing at it before any module is loaded.

#include <filesystem>
#include <string>

namespace vorlink::test {

inline constexpr const char* kSoftHsmModule = "/usr/lib/softhsm/libsofthsm2.so";
// The name SoftHSM2's package registers its module under with p11-kit.
inline constexpr const char* kSoftHsmModuleName = "softhsm2";
inline constexpr const char* kTokenLabel = "Vorlink Test";
inline constexpr const char* kUserPin = "123456";
inline constexpr const char* kSoPin = "12345678";

struct TestToken {
  std::filesystem::path folder;  // softhsm2.conf, tokens/, ca.pem, user.pem
  std::filesystem::path ca_pem() const { return folder / "ca.pem"; }
  std::filesystem::path user_pem() const { return folder / "user.pem"; }
};

// The token, made on first use; every call points SOFTHSM2_CONF at it. Fails
// the calling test (and returns null) when SoftHSM2 is not installed.
const TestToken* SharedTestToken();

// Makes another token with its own softhsm2.conf in `folder` (for tests
// that change PINs); point SOFTHSM2_CONF at it before Initialize.
bool MakeToken(const std::filesystem::path& folder, const std::string& label);

}  // namespace vorlink::test
