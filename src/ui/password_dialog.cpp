#include "ui/password_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/language.h"
#include "ui/controls.h"

namespace velorin::ui {

namespace {
constexpr int kDialogId = 2400;
constexpr int kFieldId = 2401;
constexpr int kOkText = 2010;
constexpr int kCancelText = 2011;
constexpr int kMaxPasswordLength = 260;
}  // namespace

PasswordDialog::PasswordDialog(const LanguageModule& language, const QString& earlier, int fontHeight,
                               QWidget* parent)
    : QDialog(parent) {
  setObjectName(controlName(kDialogId));
  setDialogFont(this, fontHeight);
  setWindowTitle(language.text(kDialogId));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(this);
  label->setText(language.text(kFieldId));
  field_ = new QLineEdit(this);
  nameControl(field_, kFieldId);
  field_->setEchoMode(QLineEdit::Password);
  field_->setMaxLength(kMaxPasswordLength);
  field_->setText(earlier.left(kMaxPasswordLength));
  field_->setAccessibleName(label->text());
  field_->setMinimumWidth(280);
  label->setBuddy(field_);
  layout->addWidget(label);
  layout->addWidget(field_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  setCaption(buttons->button(QDialogButtonBox::Ok), language, 1, kOkText);
  setCaption(buttons->button(QDialogButtonBox::Cancel), language, 2, kCancelText);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString PasswordDialog::password() const { return field_->text(); }

bool askArchivePassword(QWidget* owner, const LanguageModule& language, QString& password, int fontHeight) {
  PasswordDialog dialog(language, password, fontHeight, owner);
  if (dialog.exec() != QDialog::Accepted) return false;
  password = dialog.password();
  return true;
}

}  // namespace velorin::ui
