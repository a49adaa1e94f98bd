// The desktop's trash can, as the freedesktop.org Trash specification lays it out: the home trash
// $XDG_DATA_HOME/Trash (default ~/.local/share/Trash) for files on the home file system, and
// $topdir/.Trash/$uid or $topdir/.Trash-$uid for files on other mounted file systems. Every
// trashed file gets an info/NAME.trashinfo record with its original path and the deletion time,
// so a file manager can restore it.
#pragma once

#include <QString>

namespace velorin {

// Moves the file at path into the trash. False when that is not possible; the file is then where
// it was. Nothing is ever copied across file systems, so nothing can be lost half way.
bool moveToTrash(const QString& path);

// The home trash folder for the current environment (it need not exist yet).
QString homeTrashFolder();

}  // namespace velorin
