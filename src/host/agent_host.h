#pragma once
// Everything the main frame owns, without the windows: the log, the HTTPS
// server host, the request service and the component table, with the
// frame's construction, window creation sequence, session handling, timer
// and shutdown order. The Qt main frame drives it from the UI thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component/module_verifier.h"
#include "host/agent_host_options.h"
#include "host/frame_window.h"
#include "host/server/https_server_host.h"
#include "host/viewer_feed.h"
#include "log/diagnostic_log.h"
#include "log/log_line_store.h"
#include "tls/user_identity.h"
#include "trust/trust_watcher.h"

namespace vorlink {

class AgentServices;

inline constexpr int kSweepTimerId = 1050;
inline constexpr int kSweepIntervalMs = 1800000;
inline constexpr std::int32_t kIdleTimeoutMinutes = 600;

class AgentHost {
 public:
  // Construction: the log folder, today's log file, the user's identity
  // (made when missing, damaged or near its end), browser trust.
  explicit AgentHost(AgentHostOptions options);
  ~AgentHost();

  // The window creation sequence. False after the first failing step, which
  // has written its one ERROR line. The host calls `window` until Shutdown()
  // (which destruction runs), so the window must live at least that long.
  bool CreateWindowSequence(FrameWindow& window);
  // Why CreateWindowSequence failed, in words for the person who started
  // the agent; empty while it has not failed.
  const std::string& start_failure() const { return start_failure_; }

  // Session change codes (host/session_change.h): lock, unlock, anything
  // else only logged.
  void OnSessionChange(int code);
  void OnTimer(int timer_id);

  // Stops the server, waits, then ends every component. Runs once.
  void Shutdown();

  DiagnosticLog& log() { return log_; }
  // The execution-log viewer's lines (filled from the viewer's creation on).
  LogLineStore& log_lines() { return log_lines_; }
  HttpsServerHost& server() { return server_; }
  std::string TrayTooltip() const;
  // The identity's folder (where its ca.pem is), whether or not it serves.
  const std::filesystem::path& identity_folder() const { return identity_folder_; }

 private:
  void EnsureIdentity();
  void StartBrowserTrust();

  AgentHostOptions options_;
  DiagnosticLog log_;
  LogLineStore log_lines_;
  ViewerFeed viewer_{log_lines_};
  std::vector<std::uint8_t> certificate_;  // resource 311: the manifest key's source
  std::filesystem::path identity_folder_;
  std::optional<UserIdentity> identity_;
  std::string identity_problem_;
  std::unique_ptr<TrustWatcher> trust_;
  ModuleVerifier verifier_;
  std::unique_ptr<AgentServices> services_;
  HttpsServerHost server_;
  std::int32_t idle_timeout_minutes_ = 0;
  bool shut_down_ = false;
  std::string start_failure_;
};

}  // namespace vorlink
