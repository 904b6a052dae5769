#include "host/agent_host.h"

#include <thread>

#include "trust/browser_trust_installer.h"
#include "host/agent_services.h"
#include "platform/process/agent_process.h"
#include "platform/resources/resource_ids.h"
#include "request/messages.h"
#include "text/text_codec.h"

namespace vorlink {
namespace {

const platform::ResourceSource& EmbeddedResources() {
  static const platform::EmbeddedResourceSource source;
  return source;
}

}  // namespace

namespace {

std::string ManifestKey(const platform::ResourceSource* resources) {
  const auto key = (resources ? *resources : EmbeddedResources())
                       .Load(platform::kManifestKeyResourceType, platform::kIdrManifestKey);
  return std::string(key.bytes.begin(), key.bytes.end());
}

}  // namespace

AgentHost::AgentHost(AgentHostOptions options)
    : options_(std::move(options)), verifier_(ManifestKey(options_.resources)), server_(log_, options_.ports) {
  if (!options_.resources) options_.resources = &EmbeddedResources();
  if (options_.log_directory.empty()) {
    log_.PrepareLogDirectory();
  } else {
    log_.PrepareLogDirectory(options_.log_directory);
  }
  log_.ScanLogIndex();
  if (options_.install_browser_trust) {
    const auto cert = options_.resources->Load(platform::kLocalhostResourceType, platform::kIdrLocalCert);
    InstallFirefoxTrust(log_, cert.bytes, TrustSettingsFromEnvironment(options_.executable.parent_path()));
  }
  const auto folder = options_.executable.parent_path();
  services_ = std::make_unique<AgentServices>(
      log_, viewer_, verifier_, folder,
      ComponentRuntime(options_.component_folders.empty() ? ComponentRuntime::DefaultFolders(folder)
                                                                    : options_.component_folders,
                                 options_.component_host),
      options_.file_selection, options_.component_ticks);
}

AgentHost::~AgentHost() { Shutdown(); }

std::string AgentHost::TrayTooltip() const {
  return "NESTO Zanthe - (" + options_.executable.stem().string() + ".exe) - 版本 : " +
         EncodeUtf8(messages::kAgentVersion);
}

bool AgentHost::LoadResource(int id, const char* name, std::vector<std::uint8_t>& out) {
  auto loaded = options_.resources->Load(platform::kLocalhostResourceType, id);
  switch (loaded.status) {
    case platform::ResourceStatus::kNotFound:
      log_.LogError(std::string("資源檔(") + name + ")不存在 !");
      return false;
    case platform::ResourceStatus::kLoadFailed:
      log_.LogError(std::string("載入資源檔(") + name + ")失敗 !");
      return false;
    case platform::ResourceStatus::kLoaded:
      out = std::move(loaded.bytes);
      return true;
  }
  return false;
}

bool AgentHost::CreateWindowSequence(FrameWindow& window) {
  if (!window.CreateFrame()) {
    log_.LogError("建立 主視窗失敗");
    return false;
  }
  if (!window.RegisterSessionNotifications()) {
    log_.LogError("Register Session Notification Failed!");
    return false;
  }
  if (!LoadResource(platform::kIdrLocalCert, "IDR_LOCAL_CERT", certificate_)) return false;
  if (!LoadResource(platform::kIdrLocalKey, "IDR_LOCAL_KEY", key_)) return false;
  if (!verifier_.SetVerificationKey(certificate_)) {
    log_.LogError("設定 DLL 檔驗證金鑰失敗 !");
    return false;
  }
  if (!window.CreateLogDialog()) {
    log_.LogError("建立 作業記錄 視窗失敗");
    return false;
  }
  viewer_.Attach(&window);
  log_.SetViewer(&viewer_);
  if (!window.CreateTrayIcon(TrayTooltip())) {
    log_.LogError("建立 TrayIcon 視窗失敗");
    return false;
  }
  log_.LogDebug("Zanthe程式", options_.executable.filename().string());
  log_.LogDebug("版號", EncodeUtf8(messages::kAgentVersion));
  log_.LogDebug("IsProcessElevated()", platform::IsProcessElevated());
  if (!server_.InstallCertificate(certificate_, key_)) {
    log_.LogError("設定 https 憑證失敗 !");
    return false;
  }
  server_.RegisterRoutes(services_->endpoint());
  server_.Start();
  idle_timeout_minutes_ = kIdleTimeoutMinutes;
  services_->SetIdleTimeout(idle_timeout_minutes_);
  log_.LogDebug("設定元件 DLL 檢察 Timeout 時間(分鐘)", idle_timeout_minutes_);
  window.StartSweepTimer(kSweepIntervalMs);
  log_.LogDebug("啟動 timer 檢查, 間隔(分鐘)", kSweepIntervalMs / 60000);
  if (!server_.IsRunning()) {
    log_.LogError("https 服務啟動失敗");
    return false;
  }
  return true;
}

void AgentHost::ViewerFeed::AddLogLine(std::u16string_view text) {
  FrameWindow* window = window_.load();
  if (!window) return;  // no viewer yet: nothing to show
  lines_.AddLogLine(text);
  window->LogLinesChanged();
}

void AgentHost::OnSessionChange(int code) {
  log_.LogDebug(server_.IsRunning() ? "SSL 服務模式 : TRUE" : "SSL 服務模式 : FALSE");
  if (code == 7) {
    log_.LogDebug("收到 OnSessionChange(WTS_SESSION_LOCK) 指令, 準備進行切換使用者");
    if (server_.IsRunning()) {
      log_.LogDebug("準備停止 sslServer 服務");
      server_.Stop();
      log_.LogDebug("sslServer 服務已停止");
    }
  } else if (code == 8) {
    log_.LogDebug("收到 OnSessionChange(WTS_SESSION_UNLOCK) 指令, 已經完成切換使用者");
    if (!server_.IsRunning()) {
      log_.LogDebug("準備啟動 sslServer 服務");
      server_.Start();
    }
  }
}

void AgentHost::OnTimer(int timer_id) {
  if (timer_id == kSweepTimerId) services_->SweepTimeouts();
}

void AgentHost::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  if (server_.IsRunning()) {
    server_.Stop();
    log_.LogDebug("sslServer 服務已停止");
  }
  std::this_thread::sleep_for(options_.final_wait);
  certificate_.clear();
  key_.clear();
  services_->ReleaseAll();
  log_.SetViewer(nullptr);
  viewer_.Attach(nullptr);
}

}  // namespace vorlink
