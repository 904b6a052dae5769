#include "host/no_component_services.h"

#include <cctype>
#include <cstdlib>
#include <string>

#include "log/diagnostic_log.h"
#include "request/answer.h"
#include "request/messages.h"

namespace vorlink {

std::string NoManifestInitDll::HandleInitDll(std::string_view value, const PageOrigin&) {
  std::string upper(value);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find("CAPI") == std::string::npos && upper.find("PKCS11") == std::string::npos &&
      upper.find("CARD") == std::string::npos) {
    return TextAnswer(kCodeNotRun, messages::kInvalidDllName);
  }
  log_.LogError("(1)載入 Vorlink.ini 失敗");
  return TextAnswer(kCodeNotRun, messages::kManifestLoadFailed);
}

std::string EmptyTokenTable::LookupAndCall(std::string_view token, const ArgumentArray&, const PageOrigin&) {
  const std::string text(token);
  if (std::strtol(text.c_str(), nullptr, 10) == 0) return TextAnswer(kCodeNotRun, messages::kNoDllToken);
  return TextAnswer(kCodeNotRun, messages::kDllTokenNotFound);
}

}  // namespace vorlink
