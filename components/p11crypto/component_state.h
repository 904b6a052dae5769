#pragma once
// Everything one component instance remembers between calls: the loaded
// token module and session, the results that the property reads return,
// the last error, and the folders the user allowed during this instance's
// life. One instance is called by one thread at a time (the agent
// serialises calls per instance), so the state needs no lock.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "p11crypto/error_codes.h"
#include "p11crypto/files/folder_guard.h"
#include "p11crypto/value.h"
#include "vorlink_component.h"

namespace p11crypto {

class TokenSession;

struct ComponentState {
  explicit ComponentState(const vorlink_host_services* host_services);
  ~ComponentState();

  // The property reads, keyed by the reading member's dispatch id. A read
  // before the producing call gives empty text (or 0 for numbers).
  std::map<int, Value> results;
  void SetResult(int dispid, std::string text) { results[dispid] = Value::Text(std::move(text)); }

  std::int32_t last_error = kOk;
  std::string error_message;

  const vorlink_host_services* host = nullptr;  // may be null
  std::unique_ptr<TokenSession> token;          // set by Initialize
  FolderGuard folders;

  // Data that members hand to each other.
  std::vector<std::uint8_t> secret_key;  // genSecretKey, used by EncryptData/DecryptData/MAC
  std::string chosen_certificate;        // DER of the certificate getCardCert chose
  std::string loaded_data;               // loadFile's chunk, read by getLoadFileData
  std::int32_t append_size = 0;          // bytes appendFile wrote last
  bool waiting = false;                  // BeginAnimate's window is open: closed at release if need be
};

// Records a failure (number and words) and returns the number.
std::int32_t Fail(ComponentState& state, std::int32_t code, std::string message);
// Clears the last error and returns 0.
std::int32_t Succeed(ComponentState& state);

}  // namespace p11crypto
