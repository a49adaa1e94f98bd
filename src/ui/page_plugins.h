// The image plug-ins: their folder and the list of installed plug-ins.
#pragma once

#include "ui/page_controls.h"
#include "ui/settings_page.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace velorin::ui {

class PluginsPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit PluginsPage(PageHost& host, QWidget* parent = nullptr);

  void showSettings() override;
  void relabel() override;

 private:
  void setFolder(const QString& folder);
  // Lists the plug-ins of the folder; switched-off names no longer there are forgotten.
  void fillPluginList();
  void pluginToggled(QTreeWidgetItem* item);
  void configureCurrent();
  ApplicationSettings& application() const { return host().settings().application; }

  Captions captions_;
  QLineEdit* folder_ = nullptr;     // 1501
  QTreeWidget* list_ = nullptr;     // 1505
  QPushButton* configure_ = nullptr;  // 1506
};

}  // namespace velorin::ui
