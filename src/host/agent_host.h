#pragma once
// Everything the main frame owns, without the windows: the log, the HTTPS
// server host, the request service and the component table, with the
// frame's construction, window creation sequence, session handling, timer
// and shutdown order. The Qt main frame drives it from the UI thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "component/component_wrapper.h"
#include "component/module_verifier.h"
#include "log/diagnostic_log.h"
#include "log/log_line_store.h"
#include "host/frame_window.h"
#include "host/server/https_server_host.h"
#include "platform/resources/resource_source.h"

namespace vorlink {

class AgentServices;
class FileSelectionService;
class ComponentHostServices;

struct AgentHostOptions {
  std::filesystem::path executable;          // the agent's own program file
  std::string log_directory;                 // empty: the user's log folder
  std::vector<int> ports = kAgentPorts;
  bool install_browser_trust = true;
  const platform::ResourceSource* resources = nullptr;  // null: the embedded ones
  std::chrono::milliseconds final_wait{1500};           // after the server stops at shutdown
  // Shows the `selectFile` dialog; null: every dialog answers as cancelled.
  FileSelectionService* file_selection = nullptr;
  // Dialogs that components ask for; null: every one answers as cancelled.
  ComponentHostServices* component_host = nullptr;
  // Where component registrations are looked for; empty: the usual folders.
  std::vector<std::filesystem::path> component_folders;
  // The clock components' idle time is measured with; benchmarks run it
  // fast so the timeout sweep has work within seconds.
  TickSource component_ticks = SteadyTickMs;
};

inline constexpr int kSweepTimerId = 1050;
inline constexpr int kSweepIntervalMs = 1800000;
inline constexpr std::int32_t kIdleTimeoutMinutes = 600;

class AgentHost {
 public:
  // Construction: the log folder, today's log file, browser trust.
  explicit AgentHost(AgentHostOptions options);
  ~AgentHost();

  // The window creation sequence. False after the first failing step, which
  // has written its one ERROR line. The host calls `window` until Shutdown()
  // (which destruction runs), so the window must live at least that long.
  bool CreateWindowSequence(FrameWindow& window);

  // Session change codes: 7 lock, 8 unlock, anything else only logged.
  void OnSessionChange(int code);
  void OnTimer(int timer_id);

  // Stops the server, waits, then ends every component. Runs once.
  void Shutdown();

  DiagnosticLog& log() { return log_; }
  // The execution-log viewer's lines (filled from the viewer's creation on).
  LogLineStore& log_lines() { return log_lines_; }
  HttpsServerHost& server() { return server_; }
  std::string TrayTooltip() const;

 private:
  bool LoadResource(int id, const char* name, std::vector<std::uint8_t>& out);

  // Feeds the viewer's lines once the viewer exists, and tells the window.
  class ViewerFeed : public LogViewerSink {
   public:
    explicit ViewerFeed(LogLineStore& lines) : lines_(lines) {}
    void Attach(FrameWindow* window) { window_.store(window); }
    void AddLogLine(std::u16string_view text) override;

   private:
    LogLineStore& lines_;
    std::atomic<FrameWindow*> window_{nullptr};
  };

  AgentHostOptions options_;
  DiagnosticLog log_;
  LogLineStore log_lines_;
  ViewerFeed viewer_{log_lines_};
  std::vector<std::uint8_t> certificate_, key_;
  ModuleVerifier verifier_;
  std::unique_ptr<AgentServices> services_;
  HttpsServerHost server_;
  std::int32_t idle_timeout_minutes_ = 0;
  bool shut_down_ = false;
};

}  // namespace vorlink
