#include "ui/settings_page.h"

namespace velorin::ui {

SettingsPage::SettingsPage(PageHost& host, int titleId, QWidget* parent)
    : QWidget(parent), host_(host), titleId_(titleId) {
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
}

void SettingsPage::registerDropTarget(QWidget* field, std::function<void(const QString&)> take) {
  dropTargets_.push_back({field, std::move(take)});
}

bool SettingsPage::takeDrop(QWidget* widget, const QString& path) {
  for (QWidget* w = widget; w != nullptr && w != this; w = w->parentWidget()) {
    for (const DropTarget& target : dropTargets_) {
      if (target.field != w) continue;
      target.take(path);
      return true;
    }
  }
  return false;
}

}  // namespace velorin::ui
