#pragma once
// `vorlink45 --doctor`: what a person helping a user needs to know, found
// without starting the agent and without a display (no Qt): whether an
// agent runs for this user and on which port, the user's identity and its
// end, every browser trust location and whether it trusts the agent, the
// PKCS#11 modules and tokens p11-kit shows (with the running agent's
// environment), whether pcscd answers, its card readers, the card in each
// and the module that takes it up, and the log folder. Each problem comes with a one-line fix; the exit status is 1
// when there is any problem, else 0.

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "host/doctor/doctor_report.h"
#include "host/doctor/pcsc_readers.h"

namespace vorlink {

struct DoctorSettings {
  std::string program_name = "vorlink45";  // the agent's process name
  std::filesystem::path home;
  std::string xdg_config_home, xdg_data_home;  // empty: the defaults
  std::filesystem::path identity_folder;
  std::filesystem::path log_folder;
  std::filesystem::path nss_tools_folder;  // where a shipped certutil would be
  std::vector<int> ports;
  std::filesystem::path pcscd_socket = "/run/pcscd/pcscd.comm";
  std::string p11kit = "p11-kit";           // the command that lists modules and tokens
  std::string pkcs11_tool = "pkcs11-tool";  // lists a module's slots, named after their readers
  // The readers and cards pcscd reports; empty: not asked.
  std::function<PcscReaders()> pcsc_readers;
};

// The settings for this user and the agent installed at `executable`.
DoctorSettings DoctorSettingsFromEnvironment(const std::filesystem::path& executable);

// True when the command line asks for the doctor (its first argument is
// "--doctor").
bool IsDoctorCommand(int argc, char** argv);

// Every check, in order, into `report`.
void Diagnose(const DoctorSettings& settings, DoctorReport& report);

// Diagnoses, prints the report, and returns the exit status.
int RunDoctor(std::ostream& out, const DoctorSettings& settings);

}  // namespace vorlink
