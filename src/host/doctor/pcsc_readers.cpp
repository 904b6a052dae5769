#include "host/doctor/pcsc_readers.h"

#include <PCSC/winscard.h>
#include <cstdio>

namespace vorlink {
namespace {

std::string Hex(const unsigned char* bytes, DWORD size) {
  std::string hex;
  char pair[3];
  for (DWORD i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    hex += pair;
  }
  return hex;
}

// The multi-string "a\0b\0\0" as a list.
std::vector<std::string> Split(const std::vector<char>& names) {
  std::vector<std::string> list;
  for (const char* p = names.data(); p < names.data() + names.size() && *p; p += list.back().size() + 1) {
    list.emplace_back(p);
  }
  return list;
}

}  // namespace

PcscReaders ListPcscReaders() {
  PcscReaders result;
  SCARDCONTEXT context = 0;
  LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
  if (rv != SCARD_S_SUCCESS) {
    result.error = pcsc_stringify_error(rv);
    return result;
  }
  DWORD size = 0;
  rv = SCardListReaders(context, nullptr, nullptr, &size);
  std::vector<char> names(size);
  if (rv == SCARD_S_SUCCESS) rv = SCardListReaders(context, nullptr, names.data(), &size);
  if (rv != SCARD_S_SUCCESS && rv != SCARD_E_NO_READERS_AVAILABLE) result.error = pcsc_stringify_error(rv);
  if (rv == SCARD_S_SUCCESS) {
    const std::vector<std::string> list = Split(names);
    std::vector<SCARD_READERSTATE> states(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
      states[i].szReader = list[i].c_str();
      states[i].dwCurrentState = SCARD_STATE_UNAWARE;
    }
    // A zero wait only reads the state each reader is in now.
    rv = SCardGetStatusChange(context, 0, states.data(), static_cast<DWORD>(states.size()));
    if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT) result.error = pcsc_stringify_error(rv);
    for (size_t i = 0; i < list.size() && result.error.empty(); ++i) {
      const DWORD state = states[i].dwEventState;
      result.readers.push_back({list[i], (state & SCARD_STATE_PRESENT) != 0, (state & SCARD_STATE_MUTE) != 0,
                                Hex(states[i].rgbAtr, states[i].cbAtr)});
    }
  }
  SCardReleaseContext(context);
  return result;
}

}  // namespace vorlink
