#include "component/component_wrapper.h"

#include <chrono>
#include <climits>

namespace vorlink {

std::uint32_t SteadyTickMs() {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(ms.count());
}

std::int32_t ParseIntegerArgument(std::u16string_view slot) {
  std::size_t i = 0;
  auto space = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
  while (i < slot.size() && space(slot[i])) ++i;
  bool negative = false;
  if (i < slot.size() && (slot[i] == u'+' || slot[i] == u'-')) negative = slot[i++] == u'-';
  std::int64_t value = 0;
  for (; i < slot.size() && slot[i] >= u'0' && slot[i] <= u'9'; ++i) {
    value = value * 10 + (slot[i] - u'0');
    if (value > static_cast<std::int64_t>(INT32_MAX) + 1) break;  // clamped below
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

namespace {

// The text of a slot up to its first NUL.
std::u16string TextArgument(const std::u16string& slot) { return slot.substr(0, slot.find(u'\0')); }

Variant NotInvokedValue(VariantType type) {
  switch (type) {
    case VariantType::kI4: return Variant::I4(-1);
    case VariantType::kUI4: return Variant::UI4(0);
    case VariantType::kR8: return Variant::R8(0);
    default: return Variant::Bstr(u"");
  }
}

}  // namespace

ComponentWrapper::ComponentWrapper(TickSource ticks, std::int32_t kind)
    : ticks_(std::move(ticks)), kind_(kind), last_use_(ticks_()) {}

void ComponentWrapper::SetInstance(std::unique_ptr<ComponentInstance> instance, std::int32_t idle_timeout_minutes) {
  std::lock_guard lock(call_mutex_);
  instance_ = std::move(instance);
  idle_timeout_ = idle_timeout_minutes;
  created_ = instance_ != nullptr;
}

Variant ComponentWrapper::InvokeMember(const MemberRow& row, const ArgumentArray& args, std::int32_t& status) {
  if (!created_) return NotInvokedValue(row.result);
  std::vector<Variant> values;
  for (std::size_t k = 0; k < row.arguments.size(); ++k) {
    const std::u16string& slot = args[k + 1];
    values.push_back(row.arguments[k] == 'I' ? Variant::I4(ParseIntegerArgument(slot))
                                             : Variant::Bstr(TextArgument(slot)));
  }
  ++calls_in_flight_;
  struct Leave {
    std::atomic<int>& n;
    ~Leave() { --n; }
  } leave{calls_in_flight_};
  std::lock_guard lock(call_mutex_);
  if (!instance_) return NotInvokedValue(row.result);  // discarded meanwhile
  Variant result = ConvertVariant(instance_->Invoke(row.dispid, row.kind, values), row.result);
  if (result.type == VariantType::kBstr) result.text = TextArgument(result.text);
  status = 0;
  return result;
}

void ComponentWrapper::Discard() {
  std::lock_guard lock(call_mutex_);
  instance_.reset();
}

// instance_ changes only in SetInstance (before the wrapper is shared) and
// Discard, which run under the table's lock like these two; calls only
// read it.
void ComponentWrapper::Abort() {
  if (instance_) instance_->Abort();
}

bool ComponentWrapper::ended() const { return instance_ && instance_->ended(); }

}  // namespace vorlink
