// Card readers and the cards in them as pcscd sees them, and for each card
// the registered PKCS#11 module that takes it up (a module names a slot
// after its reader), asked with the running agent's environment.

#include <chrono>
#include <sstream>

#include "host/doctor/doctor_checks.h"
#include "host/doctor/pcsc_readers.h"

namespace vorlink {
namespace {

struct ModuleSlot {
  std::string module, description, token;  // token: its label, empty when the slot has none
};

// `pkcs11-tool --list-slots`: "Slot N (0x..): <description>", then under it
// "  token label        : <label>" for a token, or "  (empty)".
void ParseSlots(const std::string& module, const std::string& listing, std::vector<ModuleSlot>& slots) {
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    const auto colon = line.find("): ");
    if (line.starts_with("Slot ") && colon != std::string::npos) {
      std::string description = line.substr(colon + 3);
      description.erase(description.find_last_not_of(' ') + 1);
      slots.push_back({module, description, {}});
    } else if (line.starts_with("  token label") && !slots.empty() && line.find(": ") != std::string::npos) {
      slots.back().token = line.substr(line.find(": ") + 2);
    }
  }
}

std::string ModulePath(const std::string& path) {
  return path.starts_with('/') ? path : std::string(VORLINK_P11KIT_MODULE_PATH) + "/" + path;
}

// Every slot of every registered module that can hold keys; false when
// pkcs11-tool is missing.
bool ModuleSlots(const DoctorSettings& settings, std::vector<ModuleSlot>& slots) {
  std::vector<RegisteredModule> modules;
  if (!ListRegisteredModules(settings, modules, nullptr)) return true;  // the tokens check said so
  for (const RegisteredModule& m : modules) {
    if (m.trust_store) continue;
    const auto listed = platform::RunAndCapture(
        AsTheAgent(settings, {settings.pkcs11_tool, "--module", ModulePath(m.path), "--list-slots"}, nullptr),
        std::chrono::seconds(20));
    if (listed.status < 0) return false;
    ParseSlots(m.name, listed.out, slots);
  }
  return true;
}

// A module names its slot after the reader; OpenSC cuts the name to the
// 64 characters PKCS#11 allows.
bool SameReader(const std::string& slot, const std::string& reader) {
  return !slot.empty() && (slot == reader || (slot.size() >= 60 && reader.starts_with(slot)));
}

void ReportCard(const PcscReader& reader, const std::vector<ModuleSlot>& slots, bool tool, DoctorReport& report) {
  const std::string what = "reader \"" + reader.name + "\": a card (ATR " + reader.atr + ")";
  std::string taken;
  for (const ModuleSlot& slot : slots) {
    if (SameReader(slot.description, reader.name) && !slot.token.empty()) {
      taken += (taken.empty() ? "" : ", ") + slot.module + " as token \"" + slot.token + "\"";
    }
  }
  if (!taken.empty()) {
    report.Ok("readers", what + ", taken up by module " + taken);
  } else if (!tool) {
    report.Ok("readers", what + "; install opensc (pkcs11-tool) to see which module takes it up");
  } else {
    report.Problem("readers", what + " that no registered PKCS#11 module takes up",
                   "OpenSC supports most cards (sudo apt-get install opensc-pkcs11); for another card, install its "
                   "vendor's PKCS#11 module and register it with p11-kit (a .module file in "
                   "/usr/share/p11-kit/modules)");
  }
}

}  // namespace

void CheckReaders(const DoctorSettings& settings, DoctorReport& report) {
  if (!settings.pcsc_readers) return;
  const PcscReaders pcsc = settings.pcsc_readers();
  if (!pcsc.error.empty()) {
    report.Problem("readers", "pcscd does not list its readers (" + pcsc.error + ")", "sudo systemctl restart pcscd");
    return;
  }
  if (pcsc.readers.empty()) {
    report.Problem("readers", "no card reader is connected (pcscd sees none)",
                   "plug the card reader in; most USB readers need only pcscd's CCID driver (sudo apt-get install "
                   "libccid)");
    return;
  }
  // The modules are asked only when there is a card to take up.
  std::vector<ModuleSlot> slots;
  bool tool = true;
  for (const PcscReader& reader : pcsc.readers) {
    if (reader.card && !reader.mute) {
      tool = ModuleSlots(settings, slots);
      break;
    }
  }
  for (const PcscReader& reader : pcsc.readers) {
    if (!reader.card) {
      report.Ok("readers", "reader \"" + reader.name + "\": no card");
    } else if (reader.mute) {
      report.Problem("readers", "reader \"" + reader.name + "\": the card in it does not answer",
                     "take the card out and put it in again, chip first and facing up");
    } else {
      ReportCard(reader, slots, tool, report);
    }
  }
}

}  // namespace vorlink
