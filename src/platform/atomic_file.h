// Replacing a file's contents in one step.
#pragma once

#include <QByteArray>
#include <QString>

namespace velorin {

// Writes bytes to a new file beside path, flushes it to the disk and renames it over path, so
// readers see either the old or the new contents, never a part. A symbolic link at path is
// followed and its target replaced; the old file's permissions are kept. False when anything
// fails; path is then unchanged and no new file is left behind.
bool replaceFileContents(const QString& path, const QByteArray& bytes);

}  // namespace velorin
