#include "host/agent_host.h"

#include <ctime>
#include <thread>

#include "host/agent_resources.h"
#include "host/agent_services.h"
#include "host/session_change.h"
#include "host/tray_tooltip.h"
#include "platform/process/agent_process.h"
#include "platform/resources/resource_ids.h"
#include "request/messages.h"
#include "text/text_codec.h"
#include "tls/identity_store.h"
#include "trust/browser_trust_installer.h"
#include "trust/certutil.h"

namespace vorlink {
namespace {

const platform::ResourceSource& ResourcesOf(const AgentHostOptions& options) {
  return options.files.resources ? *options.files.resources : EmbeddedResources();
}

std::vector<std::filesystem::path> ComponentFolders(const AgentFiles& files) {
  if (!files.component_folders.empty()) return files.component_folders;
  return ComponentRuntime::DefaultFolders(files.executable.parent_path());
}

}  // namespace

AgentHost::AgentHost(AgentHostOptions options)
    : options_(std::move(options)), verifier_(LoadManifestKey(ResourcesOf(options_))), server_(log_, options_.ports) {
  if (!options_.files.resources) options_.files.resources = &EmbeddedResources();
  if (options_.files.log_directory.empty()) {
    log_.PrepareLogDirectory();
  } else {
    log_.PrepareLogDirectory(options_.files.log_directory);
  }
  log_.ScanLogIndex();
  EnsureIdentity();
  if (options_.install_browser_trust && identity_) StartBrowserTrust();
  services_ = std::make_unique<AgentServices>(
      log_, viewer_, verifier_, options_.files.executable.parent_path(),
      ComponentRuntime(ComponentFolders(options_.files), options_.desktop.component_host,
                       options_.component_limits.call_deadline),
      options_.desktop.file_selection, options_.timing.component_ticks, options_.component_limits);
}

AgentHost::~AgentHost() { Shutdown(); }

void AgentHost::EnsureIdentity() {
  identity_folder_ = options_.files.identity_folder.empty() ? DefaultIdentityFolder() : options_.files.identity_folder;
  auto ensured = EnsureUserIdentity(identity_folder_, std::time(nullptr));
  if (!ensured.replaced.empty()) {
    log_.LogDebug("建立新的使用者 https 憑證 (" + ensured.replaced + ")", identity_folder_.string());
  }
  identity_ = std::move(ensured.identity);
  identity_problem_ = std::move(ensured.problem);
}

void AgentHost::StartBrowserTrust() {
  const auto& resources = *options_.files.resources;
  const auto retired_ca = resources.Load(platform::kRetiredCaResourceType, platform::kIdrRetiredCa).bytes;
  const auto retired_ca_der = PemCertificates(std::string(retired_ca.begin(), retired_ca.end()));
  AgentTrust trust;
  trust.ca_der = identity_->CaDer();
  trust.ca_file = identity_folder_ / kIdentityCaFile;
  trust.ca_nickname = identity_->CaName();
  trust.server_der = identity_->CertificateDer();
  if (!retired_ca_der.empty()) trust.retired_ca_der = retired_ca_der.front();
  trust.retired_server_der = resources.Load(platform::kLocalhostResourceType, platform::kIdrLocalCert).bytes;
  auto settings = TrustSettingsFromEnvironment(options_.files.executable.parent_path());
  settings.ports = options_.ports;
  trust_ = std::make_unique<TrustWatcher>(log_, std::move(trust), std::move(settings));
  trust_->Start();
}

std::string AgentHost::TrayTooltip() const { return vorlink::TrayTooltip(); }

bool AgentHost::CreateWindowSequence(FrameWindow& window) {
  const auto& resources = *options_.files.resources;
  // Each failure writes its one ERROR line and keeps the reason in words
  // for the person who started the agent.
  const auto fail = [this](const char* line, std::string why) {
    if (line) log_.LogError(line);
    start_failure_ = std::move(why);
    return false;
  };
  if (!window.CreateFrame()) return fail("建立 主視窗失敗", "the main window could not be created");
  if (!window.RegisterSessionNotifications()) {
    return fail("Register Session Notification Failed!",
                "no D-Bus session or system bus answers, so the agent cannot learn when the desktop session "
                "locks; start it inside a desktop session (or under dbus-run-session)");
  }
  if (!LoadLocalhostResource(log_, resources, platform::kIdrLocalCert, "IDR_LOCAL_CERT", certificate_)) {
    return fail(nullptr, "the program's embedded certificate cannot be read (a damaged installation)");
  }
  if (!identity_) {
    log_.LogDebug("使用者 https 憑證", identity_problem_);
    return fail("建立使用者 https 憑證失敗 !", "the user's https identity cannot be made or read in " +
                                                   identity_folder_.string() + " (" + identity_problem_ + ")");
  }
  if (!verifier_.SetVerificationKey(certificate_)) {
    return fail("設定 DLL 檔驗證金鑰失敗 !", "the module manifest's verification key cannot be read");
  }
  if (!window.CreateLogDialog()) return fail("建立 作業記錄 視窗失敗", "the log viewer could not be created");
  viewer_.Attach(&window);
  log_.SetViewer(&viewer_);
  if (!window.CreateTrayIcon(TrayTooltip()))
    return fail("建立 TrayIcon 視窗失敗", "the tray icon could not be created");
  log_.LogDebug("Zanthe程式", options_.files.executable.filename().string());
  log_.LogDebug("版號", EncodeUtf8(messages::kAgentVersion));
  log_.LogDebug("IsProcessElevated()", platform::IsProcessElevated());
  if (!server_.InstallIdentity(*identity_)) {
    return fail("設定 https 憑證失敗 !", "the https server does not accept the user's identity");
  }
  server_.RegisterRoutes(services_->endpoint());
  server_.Start();
  idle_timeout_minutes_ = kIdleTimeoutMinutes;
  services_->SetIdleTimeout(idle_timeout_minutes_);
  log_.LogDebug("設定元件 DLL 檢察 Timeout 時間(分鐘)", idle_timeout_minutes_);
  window.StartSweepTimer(kSweepIntervalMs);
  log_.LogDebug("啟動 timer 檢查, 間隔(分鐘)", kSweepIntervalMs / 60000);
  if (!server_.IsRunning()) {
    std::string ports;
    for (int port : options_.ports) ports += (ports.empty() ? "" : ", ") + std::to_string(port);
    return fail("https 服務啟動失敗", "none of the ports " + ports + " on localhost can be listened on");
  }
  return true;
}

void AgentHost::OnSessionChange(int code) { ApplySessionChange(log_, server_, code); }

void AgentHost::OnTimer(int timer_id) {
  if (timer_id == kSweepTimerId) services_->SweepTimeouts();
}

void AgentHost::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  if (trust_) trust_->Stop();
  if (server_.IsRunning()) {
    server_.Stop();
    log_.LogDebug("sslServer 服務已停止");
  }
  std::this_thread::sleep_for(options_.timing.final_wait);
  certificate_.clear();
  services_->ReleaseAll();
  log_.SetViewer(nullptr);
  viewer_.Attach(nullptr);
}

}  // namespace vorlink
