#pragma once
// One live crypto component, as the component runtime hands it over: it is
// invoked by dispatch id and throws ComponentFault when a call fails.

#include <vector>

#include "component/member_table.h"
#include "component/variant.h"

namespace vorlink {

class ComponentInstance {
 public:
  virtual ~ComponentInstance() = default;
  // `args` in the member's order (Param1 first).
  virtual Variant Invoke(int dispid, CallKind kind, const std::vector<Variant>& args) = 0;
  // Ends a call in progress from another thread where that is possible: an
  // instance in a host process kills its host, and the call fails as after
  // a crash. A call inside the agent cannot be ended.
  virtual void Abort() {}
  // True once the instance can serve no more calls (its host is gone).
  virtual bool ended() const { return false; }
};

}  // namespace vorlink
