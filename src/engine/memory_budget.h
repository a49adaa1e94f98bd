// The one process-wide budget that conversions reserve their large blocks against, so that a
// tiny hostile header or many parallel workers cannot take the machine's memory.
#pragma once

#include <cstdint>

namespace velorin {

// Sets the budget in bytes; 0 or less restores the default, half the physical memory.
void setMemoryBudget(int64_t bytes);
// The budget in bytes now in force.
int64_t memoryBudget();

}  // namespace velorin
