// File operations the engine needs from the operating system.
#pragma once

#include <QString>

#include <cstdint>
#include <limits.h>

namespace velorin {

// The longest file name in bytes, and the longest path in bytes without its terminating zero.
inline constexpr qsizetype kMaxFileNameBytes = NAME_MAX;
inline constexpr qsizetype kMaxPathBytes = PATH_MAX - 1;

// The user's temporary folder (TMPDIR, else /tmp).
QString temporaryFolder();

// The real user id: names per-user resources such as the single-instance socket.
unsigned long currentUserId();

// Copies source into target (created or emptied first); false when anything fails, and the
// target is then left as it is for its owner to remove.
bool copyFileContents(const QString& source, const QString& target);

// Copies source over target (replacing it); false when anything fails, and then no partial
// target is left.
bool copyFileReplacing(const QString& source, const QString& target);

bool removeFile(const QString& path);

// Why the file at path cannot be read as a source: errno (EISDIR for a folder), or 0 when it
// opens or is a pipe or device, which is not opened just to look.
int sourceReadError(const QString& path);

// The device and inode of the file at path (links followed), so that two names of one file can
// be told apart from two files; false when it cannot be examined.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator<(const FileIdentity& other) const {
    return device != other.device ? device < other.device : inode < other.inode;
  }
};
bool fileIdentity(const QString& path, FileIdentity& identity);

}  // namespace velorin
