#include "engine/memory_budget.h"

#include <unistd.h>

#include <atomic>

namespace velorin {
namespace {

std::atomic<int64_t> budgetBytes{0};

int64_t defaultBudget() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return int64_t{1} << 31;
  return static_cast<int64_t>(pages) * pageSize / 2;
}

}  // namespace

void setMemoryBudget(int64_t bytes) { budgetBytes = bytes > 0 ? bytes : 0; }

int64_t memoryBudget() {
  const int64_t set = budgetBytes;
  return set > 0 ? set : defaultBudget();
}

}  // namespace velorin
