#pragma once
// Finds the program's own resources by (type, id). The agent reads them
// through this interface so that tests can stand in a source that is missing
// a resource or fails to load one.

#include <cstdint>
#include <string_view>
#include <vector>

namespace vorlink::platform {

enum class ResourceStatus { kLoaded, kNotFound, kLoadFailed };

struct LoadedResource {
  ResourceStatus status = ResourceStatus::kNotFound;
  std::vector<std::uint8_t> bytes;
};

class ResourceSource {
 public:
  virtual ~ResourceSource() = default;
  virtual LoadedResource Load(std::string_view type, int id) const = 0;
};

// The resources compiled into this program.
class EmbeddedResourceSource final : public ResourceSource {
 public:
  LoadedResource Load(std::string_view type, int id) const override;
};

}  // namespace vorlink::platform
