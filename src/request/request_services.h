#pragma once
// What the field parser hands work to. The component bridge implements both:
// InitDLL handling creates components, the DllToken table calls them.

#include <optional>
#include <string>
#include <string_view>

#include "component/argument_array.h"

namespace vorlink {

// The request's Origin header as it came, or nullopt when it had none. A
// token belongs to the origin of the page that created it; an absent
// Origin is a value of its own and matches only another absent one.
using PageOrigin = std::optional<std::string>;

class InitDllService {
 public:
  virtual ~InitDllService() = default;
  // `value` is the raw InitDLL field; a component it creates belongs to
  // `origin`. Returns the answer text.
  virtual std::string HandleInitDll(std::string_view value, const PageOrigin& origin) = 0;
};

class TokenCallService {
 public:
  virtual ~TokenCallService() = default;
  // `token` is the raw DLLToken field; a token of another origin is not
  // found. Returns the answer text.
  virtual std::string LookupAndCall(std::string_view token, const ArgumentArray& args, const PageOrigin& origin) = 0;
};

}  // namespace vorlink
