// Finds component registrations and creates instances: in process through
// the library's C table (components/include/vorlink_component.h), or in a
// component host process of ours.

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "component/runtime/component_runtime.h"
#include "component/runtime/host_services_table.h"
#include "component/runtime/linux/component_api.h"
#include "component/runtime/linux/local_server_instance.h"
#include "platform/process/executable_path.h"
#include "vorlink_component.h"

namespace vorlink {
namespace fs = std::filesystem;

namespace {

std::string Trim(std::string s) {
  const char* space = " \t\r\n";
  s.erase(0, s.find_first_not_of(space));
  s.erase(s.find_last_not_of(space) + 1);
  return s;
}

// "{00112233-4455-6677-8899-aabbccddeeff}" as 16 bytes in text order.
bool ParseClsid(const std::string& text, std::array<uint8_t, 16>& out) {
  std::string hex;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
  }
  if (hex.size() != 32) return false;
  for (int i = 0; i < 16; ++i) out[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return true;
}

class DlComponentInstance final : public ComponentInstance {
 public:
  DlComponentInstance(const vorlink_component_api& api, void* instance) : api_(api), instance_(instance) {}
  ~DlComponentInstance() override { api_.release_instance(instance_); }

  Variant Invoke(int dispid, CallKind kind, const std::vector<Variant>& args) override {
    return InvokeComponent(api_, instance_, dispid, kind, args);
  }

 private:
  const vorlink_component_api& api_;
  void* instance_;
};

std::optional<ComponentContext> ParseContext(const std::string& value) {
  if (value == "InProcess") return ComponentContext::kInProcess;
  if (value == "LocalServer") return ComponentContext::kLocalServer;
  return std::nullopt;
}

}  // namespace

struct ComponentRuntime::HostTable {
  ComponentHostServices* services;
  vorlink_host_services table;
};

ComponentRuntime::ComponentRuntime(std::vector<fs::path> folders, ComponentHostServices* host,
                                   std::chrono::milliseconds call_deadline)
    : folders_(std::move(folders)),
      host_table_(std::make_unique<HostTable>(HostTable{host, MakeHostServicesTable(host)})),
      call_deadline_(call_deadline) {}
ComponentRuntime::~ComponentRuntime() = default;
ComponentRuntime::ComponentRuntime(ComponentRuntime&&) noexcept = default;
ComponentRuntime& ComponentRuntime::operator=(ComponentRuntime&&) noexcept = default;

std::vector<fs::path> ComponentRuntime::DefaultFolders(const fs::path& executable_folder) {
  std::vector<fs::path> folders = {executable_folder / "components"};
  const char* data_home = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (data_home && *data_home == '/') {
    folders.push_back(fs::path(data_home) / "vorlink/components");
  } else if (home && *home) {
    folders.push_back(fs::path(home) / ".local/share/vorlink/components");
  }
  const char* data_dirs = std::getenv("XDG_DATA_DIRS");
  std::stringstream dirs(data_dirs && *data_dirs ? data_dirs : "/usr/local/share:/usr/share");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && dir[0] == '/') folders.push_back(fs::path(dir) / "vorlink/components");
  }
  return folders;
}

std::optional<ComponentRegistration> ComponentRuntime::Find(const std::string& prog_id) const {
  for (const auto& folder : folders_) {
    std::ifstream file(folder / (prog_id + ".component"));
    if (!file) continue;
    ComponentRegistration registration;
    bool valid = true;
    std::string line;
    while (std::getline(file, line)) {
      const auto equals = line.find('=');
      if (equals == std::string::npos) continue;
      const std::string key = Trim(line.substr(0, equals)), value = Trim(line.substr(equals + 1));
      if (key == "CLSID") registration.clsid = value;
      if (key == "Library") registration.library = fs::path(value).is_absolute() ? fs::path(value) : folder / value;
      if (key == "Context") {
        const auto context = ParseContext(value);
        valid = valid && context.has_value();
        registration.context = context.value_or(ComponentContext::kInProcess);
      }
    }
    if (valid && !registration.clsid.empty() && !registration.library.empty()) return registration;
  }
  return std::nullopt;
}

fs::path ComponentRuntime::HostProgram() { return platform::ExecutableFolder() / "vorlink-component-host"; }

std::unique_ptr<ComponentInstance> ComponentRuntime::Create(const std::string& prog_id) const {
  const auto registration = Find(prog_id);
  std::array<uint8_t, 16> clsid;
  if (!registration || !ParseClsid(registration->clsid, clsid)) return nullptr;
  if (registration->context == ComponentContext::kLocalServer) {
    return LocalServerInstance::Start(HostProgram(), registration->library, clsid, host_table_->services,
                                      call_deadline_);
  }
  const vorlink_component_api* api = LoadComponentApi(registration->library);
  void* instance = nullptr;
  if (!api || api->create_instance(clsid.data(), &host_table_->table, &instance) != VORLINK_S_OK || !instance) {
    return nullptr;
  }
  return std::make_unique<DlComponentInstance>(*api, instance);
}

}  // namespace vorlink
