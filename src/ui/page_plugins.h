// The plug-in folder and the list of plug-ins it holds.
#pragma once

#include "ui/settings_page.h"

namespace velorin::ui {

class PluginsPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit PluginsPage(PageHost& host, QWidget* parent = nullptr);
};

}  // namespace velorin::ui
