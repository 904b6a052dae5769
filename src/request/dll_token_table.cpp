#include "request/dll_token_table.h"

#include <openssl/rand.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "component/component_wrapper.h"
#include "component/member_table.h"
#include "log/diagnostic_log.h"
#include "request/answer.h"
#include "request/messages.h"

namespace vorlink {
namespace {

// The DLLToken field read the way strtol reads base 10, clamped to 32 bits.
std::int32_t ParseToken(std::string_view raw) {
  const std::string text(raw);
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

std::int32_t RandomToken() {
  unsigned char bytes[3] = {};
  if (RAND_bytes(bytes, sizeof bytes) != 1) std::abort();  // no safe token without randomness
  return (bytes[0] << 16) | (bytes[1] << 8) | bytes[2];
}

}  // namespace

bool DllTokenTable::TokenIsLive(std::int32_t token) const {
  for (const auto& slot : slots_) {
    if (slot && slot->wrapper && slot->token == token) return true;
  }
  return false;
}

std::int32_t DllTokenTable::Append(std::shared_ptr<ComponentWrapper> wrapper, PageOrigin origin) {
  std::lock_guard lock(mutex_);
  std::int32_t token;
  do {
    token = RandomToken();
  } while (token == 0 || TokenIsLive(token));
  slots_.push_back(Record{std::move(wrapper), token, std::move(origin)});
  return token;
}

void DllTokenTable::AppendWithToken(std::shared_ptr<ComponentWrapper> wrapper, std::int32_t token,
                                    PageOrigin origin) {
  std::lock_guard lock(mutex_);
  slots_.push_back(Record{std::move(wrapper), token, std::move(origin)});
}

std::string DllTokenTable::LookupAndCall(std::string_view raw, const ArgumentArray& args,
                                         const PageOrigin& origin) {
  if (raw.empty()) return TextAnswer(kCodeNotRun, messages::kNoDllToken);
  const std::int32_t token = ParseToken(raw);
  if (token == 0) return TextAnswer(kCodeNotRun, messages::kNoDllToken);

  std::optional<Record> match;
  {
    std::lock_guard lock(mutex_);
    for (const auto& slot : slots_) {
      if (slot && slot->token == token && slot->origin == origin) match = slot;  // the last match wins
    }
  }
  if (!match) return TextAnswer(kCodeNotRun, messages::kDllTokenNotFound);
  if (!match->wrapper) return TextAnswer(kCodeNotRun, messages::kDllTokenExpired);
  if (match->wrapper->kind() != kKindPkcs11) return {};
  return dispatch_.Dispatch(match->wrapper.get(), args);
}

void DllTokenTable::ForceLogout(ComponentWrapper& wrapper) {
  std::int32_t status = kCodeNotRun;
  try {
    wrapper.InvokeMember(*FindMemberByDispid(kDispidLogout), ArgumentArray{}, status);
  } catch (const ComponentFault&) {
    // The result is not looked at beyond its status; the wrapper goes anyway.
  }
  log_.LogDebug("強制 Logout()", status);
}

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
    const bool expired = timeout > 0 && idle > static_cast<std::uint64_t>(timeout) * 60000 && !wrapper.busy();
    if (!expired) {
      log_.LogDebug("判斷這個子程式尚未逾期");
      continue;
    }
    log_.LogDebug("判斷這個子程式已經逾期, 元件強制進行結束");
    if (wrapper.kind() == kKindPkcs11) ForceLogout(wrapper);
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

void DllTokenTable::ReleaseAll(std::chrono::milliseconds wait_for_calls) {
  std::lock_guard lock(mutex_);
  if (slots_.empty()) return;
  const auto deadline = std::chrono::steady_clock::now() + wait_for_calls;
  for (const auto& slot : slots_) {
    while (slot && slot->wrapper && slot->wrapper->busy() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  const auto count = static_cast<std::int32_t>(slots_.size());
  for (auto& slot : slots_) {
    if (!slot || !slot->wrapper) continue;
    ComponentWrapper& wrapper = *slot->wrapper;
    switch (wrapper.kind()) {
      case kKindPkcs11:
        log_.LogDebug("中介程式即將結束, 強制結束 PKCS11 元件, tokenId", slot->token);
        if (wrapper.created()) {
          ForceLogout(wrapper);
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

std::size_t DllTokenTable::size() const {
  std::lock_guard lock(mutex_);
  return slots_.size();
}

}  // namespace vorlink
