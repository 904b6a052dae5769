#pragma once
// The doctor's checks, one area each, in the order they are printed.

#include <string>
#include <vector>

#include "host/doctor/doctor.h"
#include "host/doctor/doctor_report.h"
#include "platform/process/run_command.h"

namespace vorlink {

void CheckAgent(const DoctorSettings& settings, DoctorReport& report);
void CheckIdentityAndTrust(const DoctorSettings& settings, DoctorReport& report);
void CheckTokens(const DoctorSettings& settings, DoctorReport& report);
// True when pcscd answers.
bool CheckPcscd(const DoctorSettings& settings, DoctorReport& report);
void CheckReaders(const DoctorSettings& settings, DoctorReport& report);
void CheckLogFolder(const DoctorSettings& settings, DoctorReport& report);

// What the checks share.

// This user's processes named `name` (the running agent).
std::vector<int> AgentProcesses(const std::string& name);

// `command` to run with the running agent's environment when an agent runs
// (else as it is); `whose` then names that environment.
platform::Command AsTheAgent(const DoctorSettings& settings, platform::Command command, std::string* whose);

struct RegisteredModule {
  std::string name, path;
  std::vector<std::string> tokens;  // labels of initialized tokens
  bool trust_store = false;         // p11-kit's own store of trusted certificates
};

// The modules p11-kit registers, with their tokens as the agent sees them;
// false when p11-kit cannot list them.
bool ListRegisteredModules(const DoctorSettings& settings, std::vector<RegisteredModule>& modules, std::string* whose);

}  // namespace vorlink
