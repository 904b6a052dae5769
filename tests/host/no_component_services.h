#pragma once
// Request services of an agent with no module manifest and no components,
// for tests of the endpoint and server that need no component at all.

#include "request/request_services.h"

namespace vorlink {

class DiagnosticLog;

class NoManifestInitDll final : public InitDllService {
 public:
  explicit NoManifestInitDll(DiagnosticLog& log) : log_(log) {}
  std::string HandleInitDll(std::string_view value, const PageOrigin& origin) override;

 private:
  DiagnosticLog& log_;
};

class EmptyTokenTable final : public TokenCallService {
 public:
  std::string LookupAndCall(std::string_view token, const ArgumentArray& args, const PageOrigin& origin) override;
};

}  // namespace vorlink
