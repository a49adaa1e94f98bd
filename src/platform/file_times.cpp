#include "platform/file_times.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace velorin {

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
