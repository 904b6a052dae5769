#pragma once
// The card readers pcscd serves and the card in each, as pcscd reports
// them (libpcsclite).

#include <string>
#include <vector>

namespace vorlink {

struct PcscReader {
  std::string name;
  bool card = false;  // a card is in the reader
  bool mute = false;  // ... and does not answer (upside down, broken)
  std::string atr;    // the card's ATR in hex, when it answered
};

struct PcscReaders {
  std::string error;  // pcscd's refusal in words; empty when it answered
  std::vector<PcscReader> readers;
};

PcscReaders ListPcscReaders();

}  // namespace vorlink
