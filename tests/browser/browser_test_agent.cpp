// The agent's trust installation and HTTPS server, on a port of the test's
// choosing, for the browser tests: the user's identity (made in
// $XDG_DATA_HOME when missing, as the agent does), trust installed for it,
// and the server presenting it. It prints "READY" once it serves and runs
// until killed.
//   browser_test_agent PORT MODE
// MODE: both (the agent's normal start), override (exception entries only),
//       nss (NSS imports only), none (no trust installation)

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "host/server/https_server_host.h"
#include "log/diagnostic_log.h"
#include "platform/process/executable_path.h"
#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"
#include "request/answer.h"
#include "request/field_parser.h"
#include "request/messages.h"
#include "request/request_endpoint.h"
#include "tls/identity_store.h"
#include "trust/browser_trust_installer.h"
#include "trust/firefox_profiles.h"

using namespace vorlink;

namespace {

// Answers every call as an agent with no components would.
struct NoComponents : InitDllService, TokenCallService {
  std::string HandleInitDll(std::string_view, const PageOrigin&) override {
    return TextAnswer(-1, messages::kManifestLoadFailed);
  }
  std::string LookupAndCall(std::string_view, const ArgumentArray&, const PageOrigin&) override {
    return TextAnswer(-1, messages::kDllTokenNotFound);
  }
};

std::vector<std::uint8_t> Resource(std::string_view type, int id) {
  return platform::EmbeddedResourceSource().Load(type, id).bytes;
}

void InstallTrust(DiagnosticLog& log, int port, const std::string& mode, const UserIdentity& identity) {
  if (mode == "none") return;
  auto settings = TrustSettingsFromEnvironment(platform::ExecutableFolder());
  settings.ports = {port};  // the exception entries name the port this agent serves
  AgentTrust trust;
  trust.ca_der = identity.CaDer();
  trust.ca_file = DefaultIdentityFolder() / kIdentityCaFile;
  trust.ca_nickname = identity.CaName();
  trust.server_der = identity.CertificateDer();
  const auto retired = Resource(platform::kRetiredCaResourceType, platform::kIdrRetiredCa);
  trust.retired_ca_der = PemCertificates(std::string(retired.begin(), retired.end())).front();
  trust.retired_server_der = Resource(platform::kLocalhostResourceType, platform::kIdrLocalCert);
  // Without imports, certutil is never run.
  CertutilRunner run = RealCertutilRunner();
  if (mode == "override") run = [](const platform::Command&) { return platform::CommandOutput{}; };
  BrowserTrustInstaller(log, trust, settings, run).InstallEverywhere();
  if (mode == "nss") {
    const auto roots = ExistingFirefoxRoots(settings.home, settings.xdg_config_home);
    for (const auto& profile : FindFirefoxProfiles(roots)) std::filesystem::remove(profile / "cert_override.txt");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PORT both|override|nss|none\n", argv[0]);
    return 2;
  }
  DiagnosticLog log;
  log.PrepareLogDirectory();
  log.ScanLogIndex();
  const auto ensured = EnsureUserIdentity(DefaultIdentityFolder(), std::time(nullptr));
  if (!ensured.identity) return 1;
  InstallTrust(log, std::atoi(argv[1]), argv[2], *ensured.identity);

  NoComponents services;
  FieldParser parser(services, services);
  NullTraceRecorder traces;
  RequestEndpoint endpoint(parser, traces);
  HttpsServerHost server(log, {std::atoi(argv[1])});
  if (!server.InstallIdentity(*ensured.identity)) return 1;
  server.RegisterRoutes(endpoint);
  if (!server.Start()) return 1;
  std::printf("READY\n");
  std::fflush(stdout);
  ::pause();
  return 0;
}
