// Modules, tokens, sessions and PINs on a real SoftHSM2 token.

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

#include "component_client.h"
#include "support/test_paths.h"
#include "test_token.h"

namespace vorlink::test {
namespace {

enum Dispid {
  kInitialize = 1,
  kSlots = 3,
  kSelect = 4,
  kLogin = 5,
  kLogout = 6,
  kFinalize = 10,
  kChangePin = 14,
  kEnumerate = 53,
  kInitSlot = 91
};
constexpr std::int32_t kNotInitialized = 0x5001, kModuleLoadFailed = 0x5002, kNoTokenSelected = 0x5003,
                       kTokenNotFound = 0x5004, kModuleNotAllowed = 0x500F;
constexpr std::int32_t kPinIncorrect = 0xA0;

class SlotMembers : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(SharedTestToken(), nullptr); }
  ComponentClient component_{P11CRYPTO_LIBRARY};
};

TEST_F(SlotMembers, EveryTokenMemberNeedsInitializeFirst) {
  for (int dispid : {kEnumerate, kSelect, kLogin, kLogout, kChangePin, kInitSlot}) {
    EXPECT_EQ(component_.Method(dispid, {std::string("x"), std::string("y")}), kNotInitialized) << dispid;
    EXPECT_FALSE(component_.ErrorMessage().empty()) << dispid;
  }
  EXPECT_EQ(component_.Text(kSlots), "") << "nothing listed before Enumerate_slots";
}

// A module the administrator allowed but that does not load, and one
// nobody allowed: neither answer carries the loader's words.
TEST_F(SlotMembers, InitializeReportsAModuleThatDoesNotLoadOrIsNotAllowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "the allow-list must belong to root";
  ScratchDir allow;
  std::ofstream(allow.path() / "tokens.list") << "/nonexistent/libnothing.so\n";
  ::setenv("VORLINK_MODULE_ALLOW_DIR", allow.path().c_str(), 1);
  const struct {
    std::string module;
    std::int32_t code;
    std::string message;
  } cases[] = {
      {"/nonexistent/libnothing.so", kModuleLoadFailed, "cannot load PKCS#11 module /nonexistent/libnothing.so"},
      {"/nonexistent/other.so", kModuleNotAllowed,
       "the module is neither registered with p11-kit nor allowed by the administrator"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(component_.Method(kInitialize, {c.module}), c.code) << c.module;
    EXPECT_EQ(component_.ErrorMessage(), c.message) << c.module;
    EXPECT_EQ(component_.Method(kEnumerate), kNotInitialized) << "a failed Initialize leaves no module";
  }
  ::unsetenv("VORLINK_MODULE_ALLOW_DIR");
}

TEST_F(SlotMembers, ListsTheTokenAndSelectsItByIndexLabelOrSerial) {
  ASSERT_EQ(component_.Method(kInitialize, {std::string(kSoftHsmModuleName)}), 0);
  ASSERT_EQ(component_.Method(kEnumerate), 0);
  const std::string slots = component_.Text(kSlots);
  EXPECT_NE(slots.find("\"label\":\"Vorlink Test\""), std::string::npos) << slots;
  EXPECT_EQ(slots.find("\"index\":1"), std::string::npos) << "the uninitialised spare slot is left out: " << slots;
  const auto serial_at = slots.find("\"serial\":\"") + 10;
  const std::string serial = slots.substr(serial_at, slots.find('"', serial_at) - serial_at);

  const struct {
    std::string wanted;
    std::int32_t code;
  } cases[] = {{"0", 0},
               {kTokenLabel, 0},
               {serial, 0},
               {"1", kTokenNotFound},
               {"-1", kTokenNotFound},
               {"No Such Token", kTokenNotFound},
               {"", kTokenNotFound}};
  for (const auto& c : cases) EXPECT_EQ(component_.Method(kSelect, {c.wanted}), c.code) << c.wanted;
}

TEST_F(SlotMembers, LoginChecksThePinAndLogoutEndsTheLogin) {
  ASSERT_EQ(component_.Method(kInitialize, {std::string(kSoftHsmModuleName)}), 0);
  EXPECT_EQ(component_.Method(kLogin, {std::string(kUserPin)}), kNoTokenSelected);
  ASSERT_EQ(component_.Method(kSelect, {std::string(kTokenLabel)}), 0);
  EXPECT_EQ(component_.Method(kLogin, {std::string("000000")}), kPinIncorrect);
  EXPECT_NE(component_.ErrorMessage().find("CKR_PIN_INCORRECT"), std::string::npos);
  EXPECT_EQ(component_.Method(kLogin, {std::string(kUserPin)}), 0);
  EXPECT_EQ(component_.ErrorMessage(), "") << "success clears the last error";
  EXPECT_EQ(component_.Method(kLogin, {std::string(kUserPin)}), 0) << "a second login is not an error";
  EXPECT_EQ(component_.Method(kLogout), 0);
  EXPECT_EQ(component_.Method(kFinalize), 0);
  EXPECT_EQ(component_.Method(kLogin, {std::string(kUserPin)}), kNotInitialized) << "Finalize unloads";
}

TEST(SlotMembersOwnToken, ChangePinAndUnblockWithTheSoPin) {
  ASSERT_NE(SharedTestToken(), nullptr);
  ScratchDir own;
  const std::string label = "PIN Change";
  ASSERT_TRUE(MakeToken(own.path(), label));
  ::setenv("SOFTHSM2_CONF", (own.path() / "softhsm2.conf").c_str(), 1);
  ComponentClient component(P11CRYPTO_LIBRARY);
  ASSERT_EQ(component.Method(kInitialize, {std::string(kSoftHsmModuleName)}), 0);
  ASSERT_EQ(component.Method(kEnumerate), 0);
  ASSERT_EQ(component.Method(kSelect, {label}), 0);
  EXPECT_EQ(component.Method(kChangePin, {std::string("999999"), std::string("654321")}), kPinIncorrect);
  EXPECT_EQ(component.Method(kChangePin, {std::string(kUserPin), std::string("654321")}), 0);
  EXPECT_EQ(component.Method(kLogin, {std::string(kUserPin)}), kPinIncorrect) << "the old PIN is gone";
  EXPECT_EQ(component.Method(kInitSlot, {std::string("00000000"), std::string("111111")}), kPinIncorrect)
      << "wrong SO PIN";
  EXPECT_EQ(component.Method(kInitSlot, {std::string(kSoPin), std::string("111111")}), 0);
  EXPECT_EQ(component.Method(kLogin, {std::string("111111")}), 0);
}

}  // namespace
}  // namespace vorlink::test
