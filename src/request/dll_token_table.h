#pragma once
// The DllToken table: tokens a page holds, each naming one live component.
// Filled by InitDLL, read by every call, thinned by the idle-timeout sweep
// (dll_token_sweep.cpp) and emptied at shutdown (dll_token_release.cpp).
// One mutex guards the slots; records share ownership of their wrappers,
// so a call keeps its wrapper alive while the table changes.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "component/component_limits.h"
#include "request/method_dispatch.h"
#include "request/request_services.h"

namespace vorlink {

class ComponentWrapper;

class DllTokenTable final : public TokenCallService {
 public:
  DllTokenTable(DiagnosticLog& log, MethodDispatch& dispatch, ComponentLimits limits = {})
      : log_(log), dispatch_(dispatch), limits_(limits) {}

  // Room for one more live component of one origin, held while it is
  // created; a Seat that is not filed by Append gives the room back.
  class Seat {
   public:
    Seat(Seat&& other) noexcept : table_(std::exchange(other.table_, nullptr)), origin_(std::move(other.origin_)) {}
    Seat& operator=(Seat&&) = delete;
    ~Seat();

   private:
    friend class DllTokenTable;
    Seat(DllTokenTable* table, PageOrigin origin) : table_(table), origin_(std::move(origin)) {}
    DllTokenTable* table_;
    PageOrigin origin_;
  };
  // A seat for `origin`, or nullopt when the origin already holds
  // limits.per_origin live components, or all origins together
  // limits.total (counting those being created). A component whose host
  // process has ended no longer counts.
  std::optional<Seat> TakeSeat(const PageOrigin& origin);

  // Files the wrapper under a new token for pages of `origin`: a decimal
  // number in 1..16777215 drawn from a cryptographic random source, never
  // equal to a live token.
  std::int32_t Append(std::shared_ptr<ComponentWrapper> wrapper, PageOrigin origin);
  // The same, filling a seat taken for the origin.
  std::int32_t Append(std::shared_ptr<ComponentWrapper> wrapper, Seat seat);
  // Files it under a given token (tests, and the order of slots).
  void AppendWithToken(std::shared_ptr<ComponentWrapper> wrapper, std::int32_t token, PageOrigin origin = {});

  // Only records of `origin` are seen: a token of another page answers as
  // one that does not exist, so a page cannot drive another page's card.
  std::string LookupAndCall(std::string_view token, const ArgumentArray& args, const PageOrigin& origin) override;

  // Logs out and discards components idle longer than their timeout, and
  // discards those whose host process has ended. A component busy with a
  // call is not idle and is left alone.
  void Sweep();
  // Shutdown: waits (bounded) for calls in progress and ends those that are
  // still running where it can (see ComponentWrapper::Abort), then logs
  // out and discards every component and empties the table.
  void ReleaseAll(std::chrono::milliseconds wait_for_calls = kShutdownCallWait);
  // Two seconds, so that the whole shutdown order fits in the five a stop
  // signal allows.
  static constexpr std::chrono::milliseconds kShutdownCallWait{2000};

  std::size_t size() const;

 private:
  struct Record {
    std::shared_ptr<ComponentWrapper> wrapper;
    std::int32_t token;
    PageOrigin origin;
  };
  bool TokenIsLive(std::int32_t token) const;
  std::int32_t FileRecord(std::shared_ptr<ComponentWrapper> wrapper, PageOrigin origin);
  // Live components of `origin` (all origins when null).
  std::size_t LiveComponents(const PageOrigin* origin) const;
  // Until no call is inside a component, or `limit` has passed. Holds the
  // table's lock, so no new call starts meanwhile.
  void WaitForCalls(std::chrono::milliseconds limit) const;

  DiagnosticLog& log_;
  MethodDispatch& dispatch_;
  ComponentLimits limits_;
  mutable std::mutex mutex_;
  std::vector<std::optional<Record>> slots_;  // nullopt: a slot emptied by the sweep
  std::map<PageOrigin, std::size_t> seats_;   // components being created, by origin
};

}  // namespace vorlink
