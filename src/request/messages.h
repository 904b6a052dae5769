#pragma once
// Every text an answer carries besides the component's own texts. They
// travel to the page as UTF-8 (see answer.h); pages compare them verbatim.

#include <string_view>

namespace vorlink::messages {

inline constexpr std::u16string_view kCgiContentError = u"CGI內容錯誤";
inline constexpr std::u16string_view kNoDllToken = u"沒有指定 DllToken, 無法執行";
inline constexpr std::u16string_view kDllTokenNotFound = u"沒有找到指定的 DllToken, 無法執行";
inline constexpr std::u16string_view kDllTokenExpired = u"指定的 DllToken 已經逾時, 無法執行";
inline constexpr std::u16string_view kInvalidFunctionName = u"無效的 Function 名稱";
inline constexpr std::u16string_view kInvalidDllName = u"無效的 DLL 檔名";
inline constexpr std::u16string_view kManifestLoadFailed = u"驗證 DLL 檔失敗(1)";
inline constexpr std::u16string_view kModuleCheckFailed = u"驗證 DLL 檔失敗(2)";
inline constexpr std::u16string_view kSubprogramLoadFailed = u"中介程式子程序載入失敗";
inline constexpr std::u16string_view kPkcs11LoadFailed = u"中介程式 PKCS11 DLL 載入失敗";
inline constexpr std::u16string_view kAgentVersion = u"4.5.23.1";

}  // namespace vorlink::messages
