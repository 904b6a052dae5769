#include "platform/resources/resource_source.h"

#include "platform/resources/embedded_resources.h"

namespace vorlink::platform {

LoadedResource EmbeddedResourceSource::Load(std::string_view type, int id) const {
  for (std::size_t i = 0; i < kEmbeddedResourceCount; ++i) {
    const EmbeddedResource& r = kEmbeddedResources[i];
    if (r.type == type && r.id == id) {
      if (r.bytes.empty()) return {ResourceStatus::kLoadFailed, {}};
      return {ResourceStatus::kLoaded, {r.bytes.begin(), r.bytes.end()}};
    }
  }
  return {ResourceStatus::kNotFound, {}};
}

}  // namespace vorlink::platform
