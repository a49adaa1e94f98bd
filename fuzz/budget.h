// The memory budget as the conversion pipeline applies it: the estimate from the header's
// dimensions is reserved before the reader runs, and a picture over the budget is refused.
// The fuzz budget stays well below libFuzzer's memory limit, so an input that makes a reader
// allocate far more than its header's estimate is found as an out-of-memory crash.
#pragma once

#include "engine/memory_budget.h"

namespace velorin::fuzz {

inline bool reserveForHeader(const uint8_t* data, size_t size, MemoryReservation& reservation) {
  static const bool budgetSet = [] {
    setMemoryBudget(int64_t{1} << 30);
    return true;
  }();
  (void)budgetSet;
  int64_t width = 0, height = 0;
  headerDimensions(data, size, width, height);
  return reservation.reserve(conversionEstimate(width, height));
}

}  // namespace velorin::fuzz
