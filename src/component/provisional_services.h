#pragma once
// Stand-ins for InitDLL handling and the DllToken table until the component
// bridge exists: they answer as a host with no module manifest and an empty
// token table would.

#include "request/request_services.h"

namespace vorlink {

class DiagnosticLog;

class NoManifestInitDll final : public InitDllService {
 public:
  explicit NoManifestInitDll(DiagnosticLog& log) : log_(log) {}
  std::string HandleInitDll(std::string_view value) override;

 private:
  DiagnosticLog& log_;
};

class EmptyTokenTable final : public TokenCallService {
 public:
  std::string LookupAndCall(std::string_view token, const ArgumentArray& args) override;
};

}  // namespace vorlink
