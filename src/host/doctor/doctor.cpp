#include "host/doctor/doctor.h"

#include <cstdlib>
#include <cstring>

#include "host/agent_ports.h"
#include "host/doctor/doctor_checks.h"
#include "log/diagnostic_log.h"
#include "tls/identity_store.h"

namespace vorlink {

DoctorSettings DoctorSettingsFromEnvironment(const std::filesystem::path& executable) {
  const auto env = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  };
  DoctorSettings settings;
  if (!executable.empty()) settings.program_name = executable.filename().string();
  settings.home = env("HOME");
  settings.xdg_config_home = env("XDG_CONFIG_HOME");
  settings.xdg_data_home = env("XDG_DATA_HOME");
  settings.identity_folder = DefaultIdentityFolder();
  settings.log_folder = DefaultLogDirectory();
  settings.nss_tools_folder = executable.parent_path() / "nss";
  settings.ports = kAgentPorts;
  settings.pcsc_readers = ListPcscReaders;
  return settings;
}

bool IsDoctorCommand(int argc, char** argv) { return argc > 1 && std::strcmp(argv[1], "--doctor") == 0; }

void Diagnose(const DoctorSettings& settings, DoctorReport& report) {
  CheckAgent(settings, report);
  CheckIdentityAndTrust(settings, report);
  CheckTokens(settings, report);
  if (CheckPcscd(settings, report)) CheckReaders(settings, report);
  CheckLogFolder(settings, report);
}

int RunDoctor(std::ostream& out, const DoctorSettings& settings) {
  DoctorReport report;
  Diagnose(settings, report);
  report.Print(out);
  out.flush();
  return report.ProblemCount() == 0 ? 0 : 1;
}

}  // namespace vorlink
