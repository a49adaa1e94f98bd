// The folder-tree panel on the left of the window: the user's folders and archives; choosing one
// makes it the input.
#pragma once

#include <QWidget>

#include "ui/settings_page.h"

namespace velorin::ui {

class FolderTree : public QWidget {
  Q_OBJECT
 public:
  explicit FolderTree(PageHost& host, QWidget* parent = nullptr);

  // Selects and expands path (a dropped path, or the input set elsewhere).
  void selectPath(const QString& path) {}
  // Reloads the context-menu and tooltip texts after a language switch.
  void relabel() {}
  // Shows the tree options of host().settings() (ShowZip, DTExpand, FolderList).
  void showSettings() {}
  // Writes the folder list and its flags into host().settings() at shutdown.
  void giveValues() {}
  // Ends the change notifications before the window goes; called once at shutdown.
  void stop() {}

 signals:
  // The user chose a folder or an archive in the tree: it becomes the input.
  void folderChosen(const QString& path);

 protected:
  PageHost& host() const { return host_; }

 private:
  PageHost& host_;
};

}  // namespace velorin::ui
