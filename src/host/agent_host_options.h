#pragma once
// What the agent host is started with. The defaults are the installed
// agent's; tests and benchmarks change the folders, ports and clocks.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "component/component_limits.h"
#include "component/component_wrapper.h"
#include "host/agent_ports.h"
#include "platform/resources/resource_source.h"

namespace vorlink {

class FileSelectionService;
class ComponentHostServices;

// Where the agent's files are.
struct AgentFiles {
  std::filesystem::path executable;  // the agent's own program file
  std::string log_directory;         // empty: the user's log folder
  // The user's TLS identity (tls/identity_store.h); empty: the user's data
  // folder, ${XDG_DATA_HOME:-~/.local/share}/vorlink/identity.
  std::filesystem::path identity_folder;
  // Where component registrations are looked for; empty: the usual folders.
  std::vector<std::filesystem::path> component_folders;
  const platform::ResourceSource* resources = nullptr;  // null: the embedded ones
};

// The dialogs the desktop layer shows for pages and components. Null: every
// dialog answers as cancelled (no desktop).
struct DesktopServices {
  FileSelectionService* file_selection = nullptr;   // `selectFile`
  ComponentHostServices* component_host = nullptr;  // folder and file pickers, wait window
};

// Waits and clocks, shortened by tests and benchmarks.
struct AgentTiming {
  std::chrono::milliseconds final_wait{1500};  // after the server stops at shutdown
  // The clock components' idle time is measured with; benchmarks run it
  // fast so the timeout sweep has work within seconds.
  TickSource component_ticks = SteadyTickMs;
};

struct AgentHostOptions {
  AgentFiles files;
  std::vector<int> ports = kAgentPorts;
  bool install_browser_trust = true;
  DesktopServices desktop;
  AgentTiming timing;
  // Live components per origin and in total, and the forwarded calls'
  // deadline (docs/security.md gives the defaults' reasons).
  ComponentLimits component_limits;
};

}  // namespace vorlink
