// The password asked for an encrypted RAR archive or member.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

namespace velorin {
class LanguageModule;
}

namespace velorin::ui {

class PasswordDialog : public QDialog {
  Q_OBJECT
 public:
  // The field starts with the password given earlier in the same job. fontHeight is FHeight.
  PasswordDialog(const LanguageModule& language, const QString& earlier, int fontHeight, QWidget* parent);
  QString password() const;

 private:
  QLineEdit* field_;
};

// Shows the dialog; true with password replaced on OK, false (password unchanged) on Cancel.
bool askArchivePassword(QWidget* owner, const LanguageModule& language, QString& password, int fontHeight = -12);

}  // namespace velorin::ui
