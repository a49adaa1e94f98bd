// The About window: the program's name and version and the libraries it is built on.
#pragma once

#include <QDialog>

namespace velorin {
class LanguageModule;
}

namespace velorin::ui {

// The program's version and the libraries it uses, one per line.
QString aboutText();

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  AboutDialog(const LanguageModule& language, QWidget* parent);
};

}  // namespace velorin::ui
