#pragma once
// Decides what a request asks for: a new component (InitDLL) or a call on
// an existing one (DLLToken + ExecMethod + Param1..Param9).

#include <string>
#include <string_view>

#include "request/field_map.h"
#include "request/request_services.h"

namespace vorlink {

class FieldParser {
 public:
  FieldParser(InitDllService& init_dll, TokenCallService& token_calls)
      : init_dll_(init_dll), token_calls_(token_calls) {}

  // Returns the answer text for a request from `origin`; throws
  // std::range_error("bad conversion") when a value bound for the argument
  // array is not UTF-8.
  std::string Parse(const FieldMap& fields, const PageOrigin& origin) const;

 private:
  InitDllService& init_dll_;
  TokenCallService& token_calls_;
};

// The argument slot a field fills: 0 for ExecMethod, 1..9 for Param1..9,
// -1 for every key the parser ignores.
int ArgumentSlot(std::string_view key);

// Builds the argument array from the fields: slot 0 starts with the
// DLLToken value and is replaced by ExecMethod; the last occurrence of a
// repeated ExecMethod or ParamN wins.
ArgumentArray BuildArgumentArray(const FieldMap& fields, const std::string& dll_token);

}  // namespace vorlink
