// The idle-timeout sweep of the DllToken table, run by the main frame's
// timer: components idle longer than their timeout are logged out and
// discarded, components whose host process ended are discarded; slots
// emptied by the previous sweep are removed.

#include <cstdio>
#include <string>

#include "component/component_wrapper.h"
#include "log/diagnostic_log.h"
#include "request/dll_token_table.h"
#include "request/forced_logout.h"

namespace vorlink {

void DllTokenTable::Sweep() {
  std::lock_guard lock(mutex_);
  if (slots_.empty()) return;
  for (std::size_t i = slots_.size(); i-- > 0;) {
    if (!slots_[i]) {
      log_.LogDebug("判斷子程式早已結束");
      slots_.erase(slots_.begin() + static_cast<long>(i));
      continue;
    }
    Record& record = *slots_[i];
    if (!record.wrapper) continue;
    ComponentWrapper& wrapper = *record.wrapper;
    if (wrapper.kind() == kKindCapi) log_.LogDebug("子程式為 CAPI 元件");
    if (wrapper.kind() == kKindPkcs11) log_.LogDebug("子程式為 PKCS11 元件");
    const std::uint32_t idle = wrapper.Now() - wrapper.last_use();
    const std::int32_t timeout = wrapper.idle_timeout();
    log_.LogDebug("子程式的 tokenId", record.token);
    log_.LogDebug("子程式的逾時設定(分鐘)", timeout);
    log_.LogDebug("子程式的停用時間(秒)", static_cast<std::int32_t>(idle / 1000));
    const bool ended = wrapper.ended() && !wrapper.busy();
    const bool expired = timeout > 0 && idle > static_cast<std::uint64_t>(timeout) * 60000 && !wrapper.busy();
    if (!expired && !ended) {
      log_.LogDebug("判斷這個子程式尚未逾期");
      continue;
    }
    if (ended) {
      log_.LogDebug("判斷這個子程式的元件已經結束");  // its host died or was killed: nothing to log out
    } else {
      log_.LogDebug("判斷這個子程式已經逾期, 元件強制進行結束");
      if (wrapper.kind() == kKindPkcs11) ForceLogout(log_, wrapper);
    }
    char line[100];
    std::snprintf(line, sizeof line, "%s(%d) 服務子程式已逾時, 結束服務", std::string(DiagnosticLog::kBaseName).c_str(),
                  record.token);
    log_.LogDebug(line);
    auto discarded = std::move(record.wrapper);
    slots_[i].reset();
    discarded->Discard();
  }
  log_.LogDebug("執行中子程式數量", static_cast<std::int32_t>(slots_.size()));
}

}  // namespace vorlink
