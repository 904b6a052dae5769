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
  return FileRecord(std::move(wrapper), std::move(origin));
}

std::int32_t DllTokenTable::Append(std::shared_ptr<ComponentWrapper> wrapper, Seat seat) {
  std::lock_guard lock(mutex_);
  seat.table_ = nullptr;  // filled: the record counts from now on
  if (--seats_[seat.origin_] == 0) seats_.erase(seat.origin_);
  return FileRecord(std::move(wrapper), std::move(seat.origin_));
}

std::size_t DllTokenTable::LiveComponents(const PageOrigin* origin) const {
  std::size_t live = 0;
  for (const auto& slot : slots_) {
    if (slot && slot->wrapper && !slot->wrapper->ended() && (!origin || slot->origin == *origin)) ++live;
  }
  for (const auto& [seat_origin, count] : seats_) {
    if (!origin || seat_origin == *origin) live += count;
  }
  return live;
}

std::optional<DllTokenTable::Seat> DllTokenTable::TakeSeat(const PageOrigin& origin) {
  std::lock_guard lock(mutex_);
  if (LiveComponents(&origin) >= limits_.per_origin || LiveComponents(nullptr) >= limits_.total) return std::nullopt;
  ++seats_[origin];
  return Seat(this, origin);
}

DllTokenTable::Seat::~Seat() {
  if (!table_) return;
  std::lock_guard lock(table_->mutex_);
  if (--table_->seats_[origin_] == 0) table_->seats_.erase(origin_);
}

std::int32_t DllTokenTable::FileRecord(std::shared_ptr<ComponentWrapper> wrapper, PageOrigin origin) {
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
