// File operations the engine needs from the operating system.
#pragma once

#include <QString>

#include <limits.h>

namespace velorin {

// The longest file name in bytes, and the longest path in bytes without its terminating zero.
inline constexpr qsizetype kMaxFileNameBytes = NAME_MAX;
inline constexpr qsizetype kMaxPathBytes = PATH_MAX - 1;

// The user's temporary folder (TMPDIR, else /tmp).
QString temporaryFolder();

// Creates a new empty file "tmpXXXXXX" in folder and returns its path; empty on failure.
QString createTemporaryFile(const QString& folder);

// Copies source over target (replacing it); false when anything fails, and then no partial
// target is left.
bool copyFileReplacing(const QString& source, const QString& target);

bool removeFile(const QString& path);

}  // namespace velorin
