#include "host/server/body_budget.h"

namespace vorlink {

bool BodyBudget::TryTake(std::size_t bytes) {
  std::size_t used = used_.load();
  do {
    if (bytes > ceiling_ - used) return false;
  } while (!used_.compare_exchange_weak(used, used + bytes));
  return true;
}

}  // namespace vorlink
