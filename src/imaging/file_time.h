// The program's time stamp: a signed count of 100-ns ticks since 1601-01-01 UTC, so archive
// member times, file times and EXIF dates compare and convert with plain integer arithmetic.
// Kept apart from the image types so the OS layer can use it alone.
#pragma once

#include <cstdint>

namespace velorin {

using FileTime = int64_t;

inline constexpr int64_t kFileTimeTicksPerSecond = 10000000;
inline constexpr FileTime kFileTimeOfUnixEpoch = 116444736000000000;  // 1970-01-01 UTC

constexpr FileTime fileTimeFromPosix(int64_t seconds, int64_t nanoseconds) {
  return seconds * kFileTimeTicksPerSecond + nanoseconds / 100 + kFileTimeOfUnixEpoch;
}

constexpr FileTime fileTimeFromUnixMilliseconds(int64_t milliseconds) {
  return milliseconds * 10000 + kFileTimeOfUnixEpoch;
}

// Times before 1970 round towards minus infinity, so nanoseconds is never negative.
constexpr void posixFromFileTime(FileTime time, int64_t& seconds, int64_t& nanoseconds) {
  const int64_t sinceEpoch = time - kFileTimeOfUnixEpoch;
  seconds = sinceEpoch / kFileTimeTicksPerSecond;
  int64_t rest = sinceEpoch % kFileTimeTicksPerSecond;
  if (rest < 0) {
    rest += kFileTimeTicksPerSecond;
    --seconds;
  }
  nanoseconds = rest * 100;
}

}  // namespace velorin
