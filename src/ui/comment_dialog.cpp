#include "ui/comment_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/language.h"
#include "ui/controls.h"

namespace velorin::ui {

bool editCommentText(QWidget* parent, const LanguageModule& language, QString& text) {
  QDialog dialog(parent);
  nameControl(&dialog, 2200);
  dialog.setWindowTitle(language.text(2200));
  auto* column = new QVBoxLayout(&dialog);
  auto* label = new QLabel(&dialog);
  setCaption(label, language, 2201);
  auto* field = new QPlainTextEdit(&dialog);
  setCaption(field, language, 2202);
  label->setBuddy(field);
  field->setPlainText(text);
  field->setMinimumSize(360, 120);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  setCaption(buttons->button(QDialogButtonBox::Ok), language, 2203);
  setCaption(buttons->button(QDialogButtonBox::Cancel), language, 2204);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  column->addWidget(label);
  column->addWidget(field);
  column->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted) return false;
  text = field->toPlainText().left(kCommentLength);
  return true;
}

}  // namespace velorin::ui
