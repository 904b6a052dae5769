// Runs the agent's server without a window: log, certificate, routes, the
// port probe, and a clean stop on SIGTERM, SIGINT or SIGHUP.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "component/provisional_services.h"
#include "desktop/log/diagnostic_log.h"
#include "desktop/trust/firefox_trust_installer.h"
#include "host/server/https_server_host.h"
#include "platform/process/executable_path.h"
#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"
#include "request/field_parser.h"
#include "request/request_endpoint.h"

using namespace vorlink;

namespace {

bool LoadResource(DiagnosticLog& log, int id, const char* name, std::vector<std::uint8_t>& out) {
  platform::EmbeddedResourceSource resources;
  auto loaded = resources.Load(platform::kLocalhostResourceType, id);
  if (loaded.status == platform::ResourceStatus::kNotFound) {
    log.LogError(std::string("資源檔(") + name + ")不存在 !");
    return false;
  }
  if (loaded.status == platform::ResourceStatus::kLoadFailed) {
    log.LogError(std::string("載入資源檔(") + name + ")失敗 !");
    return false;
  }
  out = std::move(loaded.bytes);
  return true;
}

}  // namespace

int main() {
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stop_signals, s);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);  // inherited by every thread

  DiagnosticLog log;
  log.PrepareLogDirectory();
  log.ScanLogIndex();
  InstallFirefoxTrust(log,
                      platform::EmbeddedResourceSource()
                          .Load(platform::kLocalhostResourceType, platform::kIdrLocalCert)
                          .bytes,
                      TrustSettingsFromEnvironment(platform::ExecutableFolder()));

  std::vector<std::uint8_t> cert, key;
  if (!LoadResource(log, platform::kIdrLocalCert, "IDR_LOCAL_CERT", cert)) return 0;
  if (!LoadResource(log, platform::kIdrLocalKey, "IDR_LOCAL_KEY", key)) return 0;

  NoManifestInitDll init_dll(log);
  EmptyTokenTable tokens;
  FieldParser parser(init_dll, tokens);
  NullTraceRecorder traces;
  RequestEndpoint endpoint(parser, traces);
  HttpsServerHost server(log);
  if (!server.InstallCertificate(cert, key)) {
    log.LogError("設定 https 憑證失敗 !");
    return 0;
  }
  server.RegisterRoutes(endpoint);
  if (!server.Start()) {
    log.LogError("https 服務啟動失敗");
    return 0;
  }
  std::printf("Vorlink45 serves https://localhost:%d/ (logs in %s)\n", server.CurrentPort(),
              log.LogDirectory().c_str());
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.Stop();
  log.LogDebug("sslServer 服務已停止");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  return 0;
}
