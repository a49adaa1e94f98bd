#include "ui/folder_tree.h"

#include "ui/controls.h"

namespace velorin::ui {

FolderTree::FolderTree(PageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  nameControl(this, 1001);
}

}  // namespace velorin::ui
