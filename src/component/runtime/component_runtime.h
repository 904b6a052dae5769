#pragma once
// Creates crypto components from their ProgID: finds the registration,
// loads the component's library and asks it for an instance. Every failure
// is a plain creation failure.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component/component_host_services.h"
#include "component/component_instance.h"
#include "component/component_limits.h"

namespace vorlink {

// Where an instance runs: in the agent, or in a component host process of
// ours so that a crashing component cannot take the agent down.
enum class ComponentContext { kInProcess, kLocalServer };

struct ComponentRegistration {
  std::string clsid;              // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
  std::filesystem::path library;  // absolute
  ComponentContext context = ComponentContext::kInProcess;
};

class ComponentRuntime {
 public:
  // Registration folders, searched in order. Instances reach `host` (which
  // must outlive them) for dialogs; without one every dialog is cancelled.
  // An out-of-process instance whose host stays silent for `call_deadline`
  // during a creation or a call is killed.
  explicit ComponentRuntime(std::vector<std::filesystem::path> registration_folders,
                            ComponentHostServices* host = nullptr,
                            std::chrono::milliseconds call_deadline = ComponentLimits{}.call_deadline);
  ~ComponentRuntime();
  ComponentRuntime(ComponentRuntime&&) noexcept;
  ComponentRuntime& operator=(ComponentRuntime&&) noexcept;

  // `components/` beside the executable, $XDG_DATA_HOME/vorlink/components,
  // then each of $XDG_DATA_DIRS/vorlink/components.
  static std::vector<std::filesystem::path> DefaultFolders(const std::filesystem::path& executable_folder);

  // The component host program: beside the running executable.
  static std::filesystem::path HostProgram();

  // The registration of a ProgID (the CLSIDFromProgID step), or nullopt;
  // a registration with an unknown Context is no registration.
  std::optional<ComponentRegistration> Find(const std::string& prog_id) const;

  // A new instance, or nullptr when the ProgID is not registered or the
  // library does not load or create one.
  std::unique_ptr<ComponentInstance> Create(const std::string& prog_id) const;

 private:
  struct HostTable;
  std::vector<std::filesystem::path> folders_;
  std::unique_ptr<HostTable> host_table_;  // the C table handed to components
  std::chrono::milliseconds call_deadline_;
};

}  // namespace vorlink
