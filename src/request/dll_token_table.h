#pragma once
// The DllToken table: tokens a page holds, each naming one live component.
// Filled by InitDLL, read by every call, thinned by the idle-timeout sweep
// (dll_token_sweep.cpp) and emptied at shutdown (dll_token_release.cpp).
// One mutex guards the slots; records share ownership of their wrappers,
// so a call keeps its wrapper alive while the table changes.

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "request/method_dispatch.h"
#include "request/request_services.h"

namespace vorlink {

class ComponentWrapper;

class DllTokenTable final : public TokenCallService {
 public:
  DllTokenTable(DiagnosticLog& log, MethodDispatch& dispatch) : log_(log), dispatch_(dispatch) {}

  // Files the wrapper under a new token for pages of `origin`: a decimal
  // number in 1..16777215 drawn from a cryptographic random source, never
  // equal to a live token.
  std::int32_t Append(std::shared_ptr<ComponentWrapper> wrapper, PageOrigin origin);
  // Files it under a given token (tests, and the order of slots).
  void AppendWithToken(std::shared_ptr<ComponentWrapper> wrapper, std::int32_t token, PageOrigin origin = {});

  // Only records of `origin` are seen: a token of another page answers as
  // one that does not exist, so a page cannot drive another page's card.
  std::string LookupAndCall(std::string_view token, const ArgumentArray& args, const PageOrigin& origin) override;

  // Logs out and discards components idle longer than their timeout. A
  // component busy with a call is not idle and is left alone.
  void Sweep();
  // Shutdown: waits (bounded) for calls in progress, logs out and discards
  // every component, empties the table.
  void ReleaseAll(std::chrono::milliseconds wait_for_calls = std::chrono::seconds(5));

  std::size_t size() const;

 private:
  struct Record {
    std::shared_ptr<ComponentWrapper> wrapper;
    std::int32_t token;
    PageOrigin origin;
  };
  bool TokenIsLive(std::int32_t token) const;
  // Until no call is inside a component, or `limit` has passed. Holds the
  // table's lock, so no new call starts meanwhile.
  void WaitForCalls(std::chrono::milliseconds limit) const;

  DiagnosticLog& log_;
  MethodDispatch& dispatch_;
  mutable std::mutex mutex_;
  std::vector<std::optional<Record>> slots_;  // nullopt: a slot emptied by the sweep
};

}  // namespace vorlink
