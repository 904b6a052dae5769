#pragma once
// InitDLL handling: reads the module kind, checks the module files against
// the signed manifest, creates a crypto component and files it under a new
// token.

#include <filesystem>
#include <functional>
#include <string>

#include "component/module_verifier.h"
#include "request/request_services.h"

namespace vorlink {

class DiagnosticLog;

enum class ModuleKind { kNone, kCapi, kPkcs11, kCard };

// The kind named in an InitDLL value: "CAPI", then "PKCS11", then "CARD",
// searched in an ASCII upper-case copy; the first found wins.
ModuleKind FindModuleKind(std::string_view value);

class InitDllHandler final : public InitDllService {
 public:
  // Creates a PKCS11 component and files it for pages of the origin given;
  // returns its token answer, or the empty string when the component cannot
  // be created.
  using ComponentCreator = std::function<std::string(const PageOrigin&)>;

  InitDllHandler(DiagnosticLog& log, ModuleVerifier& verifier, std::filesystem::path manifest_path,
                 ComponentCreator create_component);

  std::string HandleInitDll(std::string_view value, const PageOrigin& origin) override;

 private:
  DiagnosticLog& log_;
  ModuleVerifier& verifier_;
  std::filesystem::path manifest_path_;
  ComponentCreator create_component_;
};

}  // namespace vorlink
