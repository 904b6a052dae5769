// Login and the token list on a scripted token (scripted_module.cpp), for
// what no real test token does: a reader with a PIN pad (the virtual
// reader of the card tests has no PIN pad), a module that keeps a login
// its card has lost, a wrong PIN that uses the last try, PIN warnings, a
// reader that comes while the slots are listed.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

#include "component_client.h"
#include "scripted_module.h"
#include "support/test_paths.h"

namespace vorlink::test {
namespace {

enum Dispid { kInitialize = 1, kSlots = 3, kSelect = 4, kLogin = 5, kEnumerate = 53 };
constexpr CK_FLAGS kPinPad = CKF_PROTECTED_AUTHENTICATION_PATH;
const std::string kPin = "123456";

class ScriptedTokenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The module is loaded as an administrator's allowed library.
    if (::geteuid() != 0) GTEST_SKIP() << "the allow-list must belong to root";
    std::ofstream(allow_.path() / "scripted.list") << SCRIPTED_MODULE << "\n";
    ::setenv("VORLINK_MODULE_ALLOW_DIR", allow_.path().c_str(), 1);
    ASSERT_EQ(component_.Method(kInitialize, {std::string(SCRIPTED_MODULE)}), 0) << component_.ErrorMessage();
    void* loaded = ::dlopen(SCRIPTED_MODULE, RTLD_NOW | RTLD_NOLOAD);  // the component's copy
    ASSERT_NE(loaded, nullptr);
    token_ = reinterpret_cast<ScriptedTokenFunction>(::dlsym(loaded, "scripted_token"))();
    ::dlclose(loaded);
  }
  void TearDown() override { ::unsetenv("VORLINK_MODULE_ALLOW_DIR"); }

  ScratchDir allow_;
  ComponentClient component_{P11CRYPTO_LIBRARY};
  ScriptedToken* token_ = nullptr;
};

// What Login sends the module and answers. An empty PIN goes to the PIN
// pad only on a reader that has one; a module that says "already logged
// in" is not believed; a wrong PIN that locked the card answers 164.
TEST_F(ScriptedTokenTest, LoginAsksThePinPadAndAlwaysChecksThePin) {
  const std::string pad = ScriptedToken::kFromPinPad;
  enum Script { kPlain, kPadRight, kPadWrong, kLoginLost, kLocks };
  const struct {
    const char* name;
    Script script;
    std::string pin;
    std::int32_t code;
    std::vector<std::string> logins;
    bool verified;
  } cases[] = {
      {"PIN pad, no PIN: the reader asks", kPadRight, "", 0, {pad}, true},
      {"PIN pad, a PIN typed in the page", kPadRight, kPin, 0, {kPin}, true},
      {"PIN pad, the cardholder types a wrong PIN", kPadWrong, "", 0xA0, {pad}, false},
      {"no PIN pad: an empty PIN is a PIN", kPlain, "", 0xA0, {""}, false},
      {"a login the card lost: out and in again", kLoginLost, kPin, 0, {kPin, kPin}, true},
      {"a login the card lost, a wrong PIN", kLoginLost, "000000", 0xA0, {"000000", "000000"}, false},
      {"a wrong PIN that used the last try", kLocks, "000000", 0xA4, {"000000"}, false},
  };
  for (const auto& c : cases) {
    *token_ = ScriptedToken();
    token_->flags = (c.script == kPadRight || c.script == kPadWrong) ? kPinPad : 0;
    token_->pin_pad_right = c.script != kPadWrong;
    token_->module_logged_in = c.script == kLoginLost;
    token_->locks_on_wrong_pin = c.script == kLocks;
    ASSERT_EQ(component_.Method(kEnumerate), 0) << c.name;  // the reader's PIN pad is read here
    ASSERT_EQ(component_.Method(kSelect, {std::string("Scripted Card")}), 0) << c.name;
    EXPECT_EQ(component_.Method(kLogin, {c.pin}), c.code) << c.name << ": " << component_.ErrorMessage();
    EXPECT_EQ(token_->logins, c.logins) << c.name;
    EXPECT_EQ(token_->card_verified, c.verified) << c.name;
  }
}

// The list tells a page what the token says about wrong PINs, and takes a
// reader that comes between the count and the list.
TEST_F(ScriptedTokenTest, TheListShowsPinWarningsAndReadersThatCome) {
  const struct {
    const char* name;
    CK_FLAGS flags;
    int appear_while_listing;
    std::string expected;  // the end of the token's entry
  } cases[] = {
      {"no warning", 0, 0, "\"pinPad\":false}]"},
      {"a wrong PIN was typed", CKF_USER_PIN_COUNT_LOW, 0, "\"pinPad\":false,\"pinState\":\"countLow\"}]"},
      {"the next try is the last", CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY, 0, "\"pinState\":\"finalTry\"}]"},
      {"locked", CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED, 0, "\"pinState\":\"locked\"}]"},
      {"a PIN pad", kPinPad, 0, "\"pinPad\":true}]"},
      {"a reader came while listing, twice", 0, 2, "\"pinPad\":false}]"},
  };
  for (const auto& c : cases) {
    *token_ = ScriptedToken();
    token_->flags = c.flags;
    token_->appear_while_listing = c.appear_while_listing;
    ASSERT_EQ(component_.Method(kEnumerate), 0) << c.name << ": " << component_.ErrorMessage();
    const std::string listed = component_.Text(kSlots);
    EXPECT_TRUE(listed.starts_with("[{\"index\":0,\"label\":\"Scripted Card\"")) << c.name << ": " << listed;
    EXPECT_TRUE(listed.ends_with(c.expected)) << c.name << ": " << listed;
  }
}

}  // namespace
}  // namespace vorlink::test
