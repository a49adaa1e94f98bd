#include "ui/controls.h"

#include <QAbstractButton>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QWidget>

#include "engine/language.h"

namespace velorin::ui {

QString controlName(int id) { return QStringLiteral("c%1").arg(id); }

void nameControl(QWidget* control, int id) { control->setObjectName(controlName(id)); }

void setCaption(QWidget* control, const LanguageModule& language, int id) {
  setCaption(control, language, id, id);
}

void setCaption(QWidget* control, const LanguageModule& language, int controlId, int textId) {
  nameControl(control, controlId);
  const QString text = language.text(textId);
  if (auto* label = qobject_cast<QLabel*>(control)) label->setText(text);
  else if (auto* button = qobject_cast<QAbstractButton*>(control)) button->setText(text);
  else if (auto* group = qobject_cast<QGroupBox*>(control)) group->setTitle(text);
  QString accessible = text;
  accessible.remove(QRegularExpression(QStringLiteral("&(?!&)")));
  control->setAccessibleName(accessible);
}

void setDialogFont(QWidget* dialog, int fontHeight) {
  QFont font = dialog->font();
  font.setPointSize(fontHeight == -14 ? 11 : 9);
  dialog->setFont(font);
}

void setTip(QWidget* control, const LanguageModule& language, int id) {
  control->setToolTip(language.text(id));
}

}  // namespace velorin::ui
