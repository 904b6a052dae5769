#pragma once
// The table of files compiled into the program (generated at build time).

#include <cstddef>
#include <span>
#include <string_view>

namespace vorlink::platform {

struct EmbeddedResource {
  std::string_view type;
  int id;
  std::span<const unsigned char> bytes;
};

extern const EmbeddedResource kEmbeddedResources[];
extern const std::size_t kEmbeddedResourceCount;

}  // namespace vorlink::platform
