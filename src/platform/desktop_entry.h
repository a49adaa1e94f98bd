// The "Send To" entry of this desktop: a desktop entry that offers the program for image files in
// file managers' "Open With" menus.
#pragma once

#include <QString>

namespace velorin {

// $XDG_DATA_HOME/applications/velorin.desktop (default ~/.local/share/applications). Its name is
// the installed entry's, so while it exists it stands in for that one in menus.
QString sendToEntryPath();

// The installed desktop entry with its Exec line naming programPath; files chosen in a file
// manager arrive as the program's arguments. Empty when programPath cannot be written into an
// Exec line (a line break or other control character in it).
QString sendToEntryText(const QString& programPath);

// With enabled, writes the entry when it does not exist yet; without, removes it when it exists.
// False when the file could not be written or removed.
bool updateSendToEntry(bool enabled, const QString& programPath);

}  // namespace velorin
