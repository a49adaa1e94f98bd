#include "ui/folder_chooser.h"

#include <QFileDialog>

#include "engine/language.h"

namespace velorin::ui {

namespace {
constexpr int kChooseFolderTitle = 21004;
}

bool chooseFolder(QWidget* owner, const LanguageModule& language, QString& path) {
  const QString chosen = QFileDialog::getExistingDirectory(owner, language.text(kChooseFolderTitle), path,
                                                           QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return false;
  path = chosen;
  return true;
}

}  // namespace velorin::ui
