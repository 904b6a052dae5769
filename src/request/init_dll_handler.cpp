#include "request/init_dll_handler.h"

#include <cctype>

#include "log/diagnostic_log.h"
#include "request/answer.h"
#include "request/messages.h"

namespace vorlink {

ModuleKind FindModuleKind(std::string_view value) {
  std::string upper(value);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper.find("CAPI") != std::string::npos) return ModuleKind::kCapi;
  if (upper.find("PKCS11") != std::string::npos) return ModuleKind::kPkcs11;
  if (upper.find("CARD") != std::string::npos) return ModuleKind::kCard;
  return ModuleKind::kNone;
}

InitDllHandler::InitDllHandler(DiagnosticLog& log, ModuleVerifier& verifier, std::filesystem::path manifest_path,
                               ComponentCreator create_component)
    : log_(log),
      verifier_(verifier),
      manifest_path_(std::move(manifest_path)),
      create_component_(std::move(create_component)) {}

std::string InitDllHandler::HandleInitDll(std::string_view value, const PageOrigin& origin) {
  const ModuleKind kind = value.empty() ? ModuleKind::kNone : FindModuleKind(value);
  if (kind == ModuleKind::kNone) return TextAnswer(kCodeNotRun, messages::kInvalidDllName);

  switch (verifier_.LoadAndVerify(manifest_path_)) {
    case ModuleCheckResult::kLoadFailed:
      log_.LogError("(1)載入 Vorlink.ini 失敗");
      return TextAnswer(kCodeNotRun, messages::kManifestLoadFailed);
    case ModuleCheckResult::kCheckFailed:
      log_.LogError("(2)驗證所有 DLL 檔失敗");
      return TextAnswer(kCodeNotRun, messages::kModuleCheckFailed);
    case ModuleCheckResult::kOk: log_.LogDebug("驗證所有 DLL 檔 : 成功"); break;
  }
  if (kind != ModuleKind::kPkcs11) return TextAnswer(kCodeNotRun, messages::kSubprogramLoadFailed);
  std::string answer = create_component_ ? create_component_(origin) : std::string();
  if (answer.empty()) return TextAnswer(kCodeNotRun, messages::kPkcs11LoadFailed);
  return answer;
}

}  // namespace vorlink
