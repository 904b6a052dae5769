#include "request/dll_token_table.h"

#include "component/component_wrapper.h"
#include "request/answer.h"
#include "request/messages.h"
#include "request/token_number.h"

namespace vorlink {

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
    token = DrawTokenNumber();
  } while (token == 0 || TokenIsLive(token));
  slots_.push_back(Record{std::move(wrapper), token, std::move(origin)});
  return token;
}

void DllTokenTable::AppendWithToken(std::shared_ptr<ComponentWrapper> wrapper, std::int32_t token, PageOrigin origin) {
  std::lock_guard lock(mutex_);
  slots_.push_back(Record{std::move(wrapper), token, std::move(origin)});
}

std::string DllTokenTable::LookupAndCall(std::string_view raw, const ArgumentArray& args, const PageOrigin& origin) {
  if (raw.empty()) return TextAnswer(kCodeNotRun, messages::kNoDllToken);
  const std::int32_t token = ParseTokenField(raw);
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

std::size_t DllTokenTable::size() const {
  std::lock_guard lock(mutex_);
  return slots_.size();
}

}  // namespace vorlink
