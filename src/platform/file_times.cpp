#include "platform/file_times.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace velorin {

namespace {
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksFrom1601To1970 = 116444736000000000;
}  // namespace

FileTime fileTimeFromPosix(int64_t seconds, int64_t nanoseconds) {
  return seconds * kTicksPerSecond + nanoseconds / 100 + kTicksFrom1601To1970;
}

void posixFromFileTime(FileTime time, int64_t& seconds, int64_t& nanoseconds) {
  const int64_t sinceEpoch = time - kTicksFrom1601To1970;
  seconds = sinceEpoch / kTicksPerSecond;
  int64_t rest = sinceEpoch % kTicksPerSecond;
  if (rest < 0) {  // times before 1970 round towards minus infinity
    rest += kTicksPerSecond;
    --seconds;
  }
  nanoseconds = rest * 100;
}

bool readFileTimesAt(int folderFd, const char* name, FileTimes& times) {
  struct statx info {};
  if (statx(folderFd, name, AT_STATX_SYNC_AS_STAT, STATX_MTIME | STATX_BTIME, &info) != 0)
    return false;
  times.lastWrite = fileTimeFromPosix(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
  times.creation = (info.stx_mask & STATX_BTIME)
                       ? fileTimeFromPosix(info.stx_btime.tv_sec, info.stx_btime.tv_nsec)
                       : 0;
  return true;
}

bool readFileTimes(const QString& path, FileTimes& times) {
  return readFileTimesAt(AT_FDCWD, QFile::encodeName(path).constData(), times);
}

bool setLastWriteTime(const QString& path, FileTime time) {
  int64_t seconds = 0, nanoseconds = 0;
  posixFromFileTime(time, seconds, nanoseconds);
  struct timespec values[2];
  values[0].tv_sec = 0;
  values[0].tv_nsec = UTIME_OMIT;
  values[1].tv_sec = static_cast<time_t>(seconds);
  values[1].tv_nsec = static_cast<long>(nanoseconds);
  return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), values, 0) == 0;
}

bool setCreationTime(const QString&, FileTime) { return false; }

}  // namespace velorin
