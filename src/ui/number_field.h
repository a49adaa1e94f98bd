// A number field with its up/down arrows: the field takes any signed number while it is typed
// (so 150 can be corrected to 100 rather than refused), and is limited to its range when it
// loses the focus or an arrow is clicked.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace velorin::ui {

class NumberField : public QWidget {
  Q_OBJECT
 public:
  // spinId 0: no arrows.
  NumberField(int fieldId, int spinId, int minimum, int maximum, QWidget* parent = nullptr);

  QLineEdit* edit() const { return edit_; }
  QWidget* arrows() const { return arrows_; }
  // The field's value limited to the range (what the arrows and the focus loss show).
  int value() const;
  void setValue(int value);
  QString text() const;
  void setFieldWidth(int width);

 signals:
  // While typing: the value the text stands for, limited to the range.
  void editing(int value);
  // After a focus loss, Return or an arrow click, with the field showing the limited value.
  void committed(int value);

 private:
  void step(int delta);
  void commit();

  QLineEdit* edit_ = nullptr;
  QWidget* arrows_ = nullptr;
  int minimum_;
  int maximum_;
};

}  // namespace velorin::ui
