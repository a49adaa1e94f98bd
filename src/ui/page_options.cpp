#include "ui/page_options.h"

namespace velorin::ui {

OptionsPage::OptionsPage(PageHost& host, QWidget* parent) : SettingsPage(host, 20014, parent) {}

}  // namespace velorin::ui
