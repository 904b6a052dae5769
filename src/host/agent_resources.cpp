#include "host/agent_resources.h"

#include "log/diagnostic_log.h"
#include "platform/resources/resource_ids.h"

namespace vorlink {

const platform::ResourceSource& EmbeddedResources() {
  static const platform::EmbeddedResourceSource source;
  return source;
}

std::string LoadManifestKey(const platform::ResourceSource& resources) {
  const auto key = resources.Load(platform::kManifestKeyResourceType, platform::kIdrManifestKey);
  return std::string(key.bytes.begin(), key.bytes.end());
}

bool LoadLocalhostResource(DiagnosticLog& log, const platform::ResourceSource& resources, int id, const char* name,
                           std::vector<std::uint8_t>& out) {
  auto loaded = resources.Load(platform::kLocalhostResourceType, id);
  switch (loaded.status) {
    case platform::ResourceStatus::kNotFound: log.LogError(std::string("資源檔(") + name + ")不存在 !"); return false;
    case platform::ResourceStatus::kLoadFailed:
      log.LogError(std::string("載入資源檔(") + name + ")失敗 !");
      return false;
    case platform::ResourceStatus::kLoaded: out = std::move(loaded.bytes); return true;
  }
  return false;
}

}  // namespace vorlink
