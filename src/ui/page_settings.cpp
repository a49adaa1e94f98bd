#include "ui/page_settings.h"

namespace velorin::ui {

SettingsTabPage::SettingsTabPage(PageHost& host, QWidget* parent) : SettingsPage(host, 20011, parent) {}

}  // namespace velorin::ui
