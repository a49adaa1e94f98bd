// The program options and the language selector.
#pragma once

#include "ui/settings_page.h"

namespace velorin::ui {

class OptionsPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit OptionsPage(PageHost& host, QWidget* parent = nullptr);
};

}  // namespace velorin::ui
