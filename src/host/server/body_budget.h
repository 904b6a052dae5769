#pragma once
// The bytes of request bodies being received at one moment over all
// connections of the listener, against a ceiling.

#include <atomic>
#include <cstddef>

namespace vorlink {

class BodyBudget {
 public:
  explicit BodyBudget(std::size_t ceiling) : ceiling_(ceiling) {}

  // Takes `bytes` from the budget; false, taking nothing, when that would
  // pass the ceiling.
  bool TryTake(std::size_t bytes);
  void Give(std::size_t bytes) { used_.fetch_sub(bytes); }
  std::size_t used() const { return used_.load(); }

 private:
  const std::size_t ceiling_;
  std::atomic<std::size_t> used_{0};
};

}  // namespace vorlink
