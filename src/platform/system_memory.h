// How much memory the machine has, for budgets that scale with it.
#pragma once

#include <cstdint>

namespace velorin {

// The physical memory in bytes, or 0 when the system does not say.
int64_t physicalMemoryBytes();

}  // namespace velorin
