// File time stamps. Linux keeps a birth time on many file systems (read through statx) but offers
// no way to set one, so only the last-write time can be copied to another file.
#pragma once

#include <QString>

#include <cstdint>

#include "imaging/file_time.h"

namespace velorin {

struct FileTimes {
  FileTime lastWrite = 0;
  FileTime creation = 0;  // 0 when the file system keeps no birth time
};

// The times of the file at path (links followed); false when it cannot be examined.
bool readFileTimes(const QString& path, FileTimes& times);
// The same relative to an open folder, for directory listings.
bool readFileTimesAt(int folderFd, const char* name, FileTimes& times);

// Sets the last-write time of path and leaves its access time alone; false on failure.
bool setLastWriteTime(const QString& path, FileTime time);

// Always false here: a birth time cannot be set on Linux. Kept so callers say what they want.
bool setCreationTime(const QString& path, FileTime time);

}  // namespace velorin
