// The member list of an archive, shared by the ZIP reader, the RAR binding and the archive
// plug-ins, and the helpers that turn an archive's own name and time forms into it.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

#include "imaging/image.h"

namespace velorin {

struct MemberEntry {
  QString fileName;  // the part after the last "/"; empty for a folder entry
  QString folder;    // the path up to and including the last "/"; empty without a folder part
  uint64_t position = 0;  // ZIP: local header offset; RAR: header index; plug-in: its position
  FileTime fileTime = 0;  // modification time, UTC
  uint32_t size = 0;      // uncompressed size
};

struct MemberList {
  std::vector<MemberEntry> entries;  // in archive order; entries.size() is the listed count
  uint32_t capacity = 0;             // the number of records the archive announced
  FileTime archiveTime = 0;          // last-write time of the archive file
};

// Splits an archive path into folder and file name. Backslashes count as separators too:
// archives written on Windows use them. A path ending in a separator is a folder entry.
void splitMemberPath(const QString& path, MemberEntry& entry);

// An MS-DOS date and time, taken as local time, as a UTC file time (0 for an impossible date).
FileTime dosTimeToFileTime(uint16_t dosDate, uint16_t dosTime);

}  // namespace velorin
