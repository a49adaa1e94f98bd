// Shortcuts on this platform are symbolic links.
#pragma once

#include <QString>

namespace velorin {

// The final target of path when it is a symbolic link, else path unchanged (also when the link
// cannot be followed).
QString resolveSymlink(const QString& path);

}  // namespace velorin
