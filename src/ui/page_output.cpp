#include "ui/page_output.h"

namespace velorin::ui {

OutputPage::OutputPage(PageHost& host, QWidget* parent) : SettingsPage(host, 20013, parent) {}

}  // namespace velorin::ui
