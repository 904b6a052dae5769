#pragma once
// One crypto component instance held for a DllToken: the kind, the idle
// timeout, the last-use tick, and the calls into it. Calls into one
// instance never overlap; the timeout sweep sees a wrapper in use as busy.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "component/argument_array.h"
#include "component/component_instance.h"

namespace vorlink {

inline constexpr std::u16string_view kComponentProgId = u"ORVAPkcs11Crypto.ORVA_P11Crypto";
inline constexpr std::int32_t kKindCard = 10;
inline constexpr std::int32_t kKindPkcs11 = 11;
inline constexpr std::int32_t kKindCapi = 12;

// Milliseconds that wrap around at 2^32, like the tick counter components
// are timed with; injectable so tests can wrap it.
using TickSource = std::function<std::uint32_t()>;
std::uint32_t SteadyTickMs();

// The integer an argument slot holds, read the way wcstol reads base 10:
// leading white space, an optional sign, digits; clamped to 32 bits; 0
// when there are no digits.
std::int32_t ParseIntegerArgument(std::u16string_view slot);

class ComponentWrapper {
 public:
  explicit ComponentWrapper(TickSource ticks = SteadyTickMs, std::int32_t kind = kKindPkcs11);

  // Takes the created instance: the wrapper is created from here on.
  void SetInstance(std::unique_ptr<ComponentInstance> instance, std::int32_t idle_timeout_minutes);

  // Calls the row's member with arguments from the array. `status` becomes
  // 0 when the member was invoked and stays as it was when the instance
  // was never created (the result is then the not-invoked value). Throws
  // ComponentFault when the component fails.
  Variant InvokeMember(const MemberRow& row, const ArgumentArray& args, std::int32_t& status);

  bool created() const { return created_; }
  std::int32_t kind() const { return kind_; }
  std::int32_t idle_timeout() const { return idle_timeout_; }
  std::uint32_t last_use() const { return last_use_; }
  void Touch() { last_use_ = ticks_(); }
  std::uint32_t Now() const { return ticks_(); }

  // True while a call is inside the component.
  bool busy() const { return calls_in_flight_ > 0; }

  // Ends the instance; waits for a call in progress.
  void Discard();
  // Ends a call in progress without waiting for it, where the instance can
  // (see ComponentInstance::Abort). Like Discard, only under the token
  // table's lock, so the two never overlap.
  void Abort();
  // True once the instance can serve no more calls: its host process died
  // or was killed.
  bool ended() const;

 private:
  TickSource ticks_;
  std::int32_t kind_;
  std::int32_t idle_timeout_ = 0;
  std::atomic<std::uint32_t> last_use_;
  std::atomic<bool> created_{false};
  std::atomic<int> calls_in_flight_{0};
  std::mutex call_mutex_;
  std::unique_ptr<ComponentInstance> instance_;
};

}  // namespace vorlink
