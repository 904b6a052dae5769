#pragma once
// What the scripted PKCS#11 module's one token does; a test reaches the
// module's copy through its exported scripted_token().

#include <p11-kit/pkcs11.h>

#include <string>
#include <vector>

struct ScriptedToken {
  static constexpr const char* kFromPinPad = "<pin pad>";

  bool present = true;
  CK_FLAGS flags = 0;  // added to the token's own (PIN pad, PIN counters)
  std::string pin = "123456";
  bool pin_pad_right = true;        // what the cardholder types on the pad
  bool module_logged_in = false;    // the module's idea of the login
  bool card_verified = false;       // the card's, lost when it is pulled
  bool locks_on_wrong_pin = false;  // a wrong PIN uses the last try
  int appear_while_listing = 0;     // listings in which a reader comes between count and list

  std::vector<std::string> logins;  // each C_Login's PIN, kFromPinPad for none
  int logouts = 0;
};

using ScriptedTokenFunction = ScriptedToken* (*)();
