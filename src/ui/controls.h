// How every control of the window is named and captioned: its object name is "c<id>" so tests
// and scripts find it, and its caption (the language text of the same id) is also its accessible
// name, so screen readers and UI tests see the same names.
#pragma once

#include <QString>

class QWidget;

namespace velorin {
class LanguageModule;
}

namespace velorin::ui {

QString controlName(int id);

// Sets the object name "c<id>".
void nameControl(QWidget* control, int id);

// Names the control and sets its caption from the language text of id: the text of a label,
// button, check box or group box, the accessible name of anything else. Mnemonics ("&") are
// left out of the accessible name.
void setCaption(QWidget* control, const LanguageModule& language, int id);

// The same for a caption whose text id differs from the control's id.
void setCaption(QWidget* control, const LanguageModule& language, int controlId, int textId);

// Dialogs follow the interface font size: 11 points when fontHeight (FHeight) is -14, else 9.
void setDialogFont(QWidget* dialog, int fontHeight);

// Sets the tooltip from the language text of id (nothing when the language has none).
void setTip(QWidget* control, const LanguageModule& language, int id);

}  // namespace velorin::ui
