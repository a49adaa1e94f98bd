#include "ui/settings_page.h"

namespace velorin::ui {

SettingsPage::SettingsPage(PageHost& host, int titleId, QWidget* parent)
    : QWidget(parent), host_(host), titleId_(titleId) {
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
}

// The fields outlive the table: QWidget deletes its children after this destructor has run.
SettingsPage::~SettingsPage() {
  for (auto it = dropTargets_.cbegin(); it != dropTargets_.cend(); ++it)
    disconnect(it.key(), &QObject::destroyed, this, nullptr);
}

void SettingsPage::registerDropTarget(QWidget* field, std::function<void(const QString&)> take) {
  dropTargets_.insert(field, std::move(take));
  connect(field, &QObject::destroyed, this, [this, field] { dropTargets_.remove(field); });
}

bool SettingsPage::takeDrop(QWidget* widget, const QString& path) {
  for (QWidget* w = widget; w != nullptr && w != this; w = w->parentWidget()) {
    const auto found = dropTargets_.constFind(w);
    if (found != dropTargets_.constEnd()) {
      found.value()(path);
      return true;
    }
  }
  return false;
}

}  // namespace velorin::ui
