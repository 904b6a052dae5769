#pragma once
// Drives the bundled component through its C interface, the way the agent
// does, for tests: member calls by dispatch id with text or integer
// arguments, results as text.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "vorlink_component.h"

namespace vorlink::test {

using Argument = std::variant<std::string, std::int32_t>;

struct CallResult {
  std::int32_t status = 0;  // VORLINK_S_OK or the failure
  std::int64_t integer = 0;
  double real = 0;
  std::string text;  // UTF-8
  std::uint16_t type = 0;
};

class ComponentClient {
 public:
  // Loads the library and creates one instance; `host` may be null.
  explicit ComponentClient(const std::string& library, const vorlink_host_services* host = nullptr);
  ~ComponentClient();
  ComponentClient(const ComponentClient&) = delete;
  ComponentClient& operator=(const ComponentClient&) = delete;

  CallResult Call(int dispid, const std::vector<Argument>& args = {});
  // A method's integer answer (fails the test on a non-OK status).
  std::int32_t Method(int dispid, const std::vector<Argument>& args = {});
  // A property read's text.
  std::string Text(int dispid);
  std::string ErrorMessage() { return Text(11); }

 private:
  const vorlink_component_api* api_ = nullptr;
  void* instance_ = nullptr;
};

}  // namespace vorlink::test
