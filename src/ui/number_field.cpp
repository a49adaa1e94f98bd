#include "ui/number_field.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings/page_rules.h"
#include "ui/controls.h"

namespace velorin::ui {

NumberField::NumberField(int fieldId, int spinId, int minimum, int maximum, QWidget* parent)
    : QWidget(parent), minimum_(minimum), maximum_(maximum) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  edit_ = new QLineEdit(this);
  nameControl(edit_, fieldId);
  // Room for a sign and one digit more than the range needs, so an out-of-range value can be
  // typed and corrected.
  const int digits = static_cast<int>(QString::number(std::max(std::abs(minimum), std::abs(maximum))).size()) + 1;
  edit_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("-?[0-9]{0,%1}").arg(digits)), edit_));
  row->addWidget(edit_);
  if (spinId != 0) {
    arrows_ = new QWidget(this);
    nameControl(arrows_, spinId);
    auto* column = new QVBoxLayout(arrows_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    for (const auto& [arrow, delta] : {std::pair{Qt::UpArrow, 1}, std::pair{Qt::DownArrow, -1}}) {
      auto* button = new QToolButton(arrows_);
      button->setArrowType(arrow);
      button->setAutoRepeat(true);
      button->setFocusPolicy(Qt::NoFocus);
      button->setFixedSize(16, 11);
      column->addWidget(button);
      connect(button, &QToolButton::clicked, this, [this, d = delta] { step(d); });
    }
    row->addWidget(arrows_);
  }
  connect(edit_, &QLineEdit::textEdited, this,
          [this](const QString& text) { emit editing(limitedNumber(text, minimum_, maximum_)); });
  connect(edit_, &QLineEdit::editingFinished, this, &NumberField::commit);
}

int NumberField::value() const { return limitedNumber(edit_->text(), minimum_, maximum_); }

void NumberField::setValue(int value) { edit_->setText(QString::number(std::clamp(value, minimum_, maximum_))); }

QString NumberField::text() const { return edit_->text(); }

void NumberField::setFieldWidth(int width) { edit_->setFixedWidth(width); }

void NumberField::step(int delta) {
  setValue(value() + delta);
  emit committed(value());
}

void NumberField::commit() {
  setValue(value());
  emit committed(value());
}

}  // namespace velorin::ui
