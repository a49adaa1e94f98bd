// File operations the engine needs from the operating system.
#pragma once

#include <QString>

namespace velorin {

// The user's temporary folder (TMPDIR, else /tmp).
QString temporaryFolder();

// Copies source into target (created or emptied first); false when anything fails, and the
// target is then left as it is for its owner to remove.
bool copyFileContents(const QString& source, const QString& target);

// Copies source over target (replacing it); false when anything fails, and then no partial
// target is left.
bool copyFileReplacing(const QString& source, const QString& target);

bool removeFile(const QString& path);

}  // namespace velorin
