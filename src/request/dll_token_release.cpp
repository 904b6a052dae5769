// The DllToken table's end at shutdown: calls still in progress get a
// bounded wait and are then ended where they can be, then every component
// is logged out and discarded.

#include <thread>

#include "component/component_wrapper.h"
#include "log/diagnostic_log.h"
#include "request/dll_token_table.h"
#include "request/forced_logout.h"

namespace vorlink {

void DllTokenTable::WaitForCalls(std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (const auto& slot : slots_) {
    while (slot && slot->wrapper && slot->wrapper->busy() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
}

void DllTokenTable::ReleaseAll(std::chrono::milliseconds wait_for_calls) {
  std::lock_guard lock(mutex_);
  if (slots_.empty()) return;
  WaitForCalls(wait_for_calls);
  // A call still running would hold its component's lock past the end of
  // the agent: out-of-process calls are ended by killing their host.
  for (auto& slot : slots_) {
    if (slot && slot->wrapper && slot->wrapper->busy()) slot->wrapper->Abort();
  }
  const auto count = static_cast<std::int32_t>(slots_.size());
  for (auto& slot : slots_) {
    if (!slot || !slot->wrapper) continue;
    ComponentWrapper& wrapper = *slot->wrapper;
    switch (wrapper.kind()) {
      case kKindPkcs11:
        log_.LogDebug("中介程式即將結束, 強制結束 PKCS11 元件, tokenId", slot->token);
        if (wrapper.created()) {
          ForceLogout(log_, wrapper);
        } else {
          log_.LogDebug("強制 Logout()", -1);
        }
        break;
      case kKindCapi: log_.LogDebug("中介程式即將結束, 強制結束 CAPI 元件, tokenId", slot->token); break;
      case kKindCard: log_.LogDebug("中介程式即將結束, 強制結束 CARD 元件, tokenId", slot->token); break;
      default: break;
    }
    wrapper.Discard();
    slot->wrapper.reset();
  }
  slots_.clear();
  log_.LogDebug("所有子程式已經全部結束, 數量", count);
}

}  // namespace vorlink
