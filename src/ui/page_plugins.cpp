#include "ui/page_plugins.h"

namespace velorin::ui {

PluginsPage::PluginsPage(PageHost& host, QWidget* parent) : SettingsPage(host, 20015, parent) {}

}  // namespace velorin::ui
