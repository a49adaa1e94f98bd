// The dialog that saves the current settings as one of the five presets, or forgets one.
#pragma once

#include <QString>

#include "settings/presets.h"

class QWidget;

namespace velorin {
class LanguageModule;
}

namespace velorin::ui {

struct PresetChoice {
  int number = 0;  // 0..4
  QString name;    // empty: the preset is to be forgotten
};

// Offers the five presets, the first undefined one marked, with a name field of at most
// kPresetNameLength characters that shows the marked preset's name. False on Cancel.
bool choosePresetToSave(QWidget* parent, const LanguageModule& language, const Presets& presets,
                        PresetChoice& choice);

}  // namespace velorin::ui
