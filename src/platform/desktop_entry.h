// The "Send To" entry of this desktop: a desktop entry that offers the program for image files in
// file managers' "Open With" menus.
#pragma once

#include <QString>

namespace velorin {

// $XDG_DATA_HOME/applications/velorin.desktop (default ~/.local/share/applications).
QString sendToEntryPath();

// With enabled, writes the entry when it does not exist yet; without, removes it when it exists.
// False when the file could not be written or removed.
bool updateSendToEntry(bool enabled, const QString& programPath);

}  // namespace velorin
