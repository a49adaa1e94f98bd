// The process-wide request to abandon the conversions in flight (the user pressed Ctrl-C). The
// long loops of the readers, the processing chain and the writers look at it between rows, pieces
// and phases and give up, so that a stop takes effect within a fraction of a second even while a
// huge picture converts. A codec that gives up fails with its usual status; the job knows from
// the flag that the entry was abandoned, not broken.
#pragma once

#include <atomic>

namespace velorin {

// Lock-free, so a signal handler may set it.
std::atomic<bool>& conversionStopFlag();

inline bool conversionStopRequested() { return conversionStopFlag().load(std::memory_order_relaxed); }

}  // namespace velorin
