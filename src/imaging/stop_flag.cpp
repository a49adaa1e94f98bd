#include "imaging/stop_flag.h"

namespace velorin {

std::atomic<bool>& conversionStopFlag() {
  static std::atomic<bool> flag{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
  return flag;
}

}  // namespace velorin
