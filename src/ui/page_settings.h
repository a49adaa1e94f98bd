// The conversion settings: formats, JPEG and PNG options, resize, rotation,
// sharpening, naming, output folder, deletion of the sources and presets.
#pragma once

#include "ui/settings_page.h"

namespace velorin::ui {

class SettingsTabPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit SettingsTabPage(PageHost& host, QWidget* parent = nullptr);
};

}  // namespace velorin::ui
