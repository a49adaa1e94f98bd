#include "engine/memory_budget.h"

#include <atomic>

#include "platform/system_memory.h"

namespace velorin {
namespace {

std::atomic<int64_t> budgetBytes{0};

int64_t defaultBudget() {
  const int64_t physical = physicalMemoryBytes();
  return physical > 0 ? physical / 2 : int64_t{1} << 31;
}

}  // namespace

void setMemoryBudget(int64_t bytes) { budgetBytes = bytes > 0 ? bytes : 0; }

int64_t memoryBudget() {
  const int64_t set = budgetBytes;
  return set > 0 ? set : defaultBudget();
}

}  // namespace velorin
