#pragma once
// What the field parser hands work to. The component bridge implements both:
// InitDLL handling creates components, the DllToken table calls them.

#include <string>
#include <string_view>

#include "request/argument_array.h"

namespace vorlink {

class InitDllService {
 public:
  virtual ~InitDllService() = default;
  // `value` is the raw InitDLL field; returns the answer text.
  virtual std::string HandleInitDll(std::string_view value) = 0;
};

class TokenCallService {
 public:
  virtual ~TokenCallService() = default;
  // `token` is the raw DLLToken field; returns the answer text.
  virtual std::string LookupAndCall(std::string_view token, const ArgumentArray& args) = 0;
};

}  // namespace vorlink
