// The folder chooser the folder buttons of the pages open.
#pragma once

#include <QString>

class QWidget;

namespace velorin {
class LanguageModule;
}

namespace velorin::ui {

// Folders only, starting at path when it is set; true with path replaced by the chosen folder,
// false (path unchanged) when the user cancels.
bool chooseFolder(QWidget* owner, const LanguageModule& language, QString& path);

}  // namespace velorin::ui
