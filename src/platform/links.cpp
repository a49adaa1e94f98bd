#include "platform/links.h"

#include <QFileInfo>

namespace velorin {

QString resolveSymlink(const QString& path) {
  const QFileInfo info(path);
  if (!info.isSymLink()) return path;
  const QString target = info.canonicalFilePath();  // empty for a dangling or looping link
  return target.isEmpty() ? path : target;
}

}  // namespace velorin
