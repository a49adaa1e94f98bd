// Building blocks the settings pages share: controls named "c<id>" whose captions are reloaded
// together when the language changes, and lists refilled without firing their change signals.
#pragma once

#include <QComboBox>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace velorin {
class LanguageModule;
}

namespace velorin::ui {

// The controls of one page with the text id of each caption.
class Captions {
 public:
  template <typename Control>
  Control* add(Control* control, int id) {
    entries_.emplace_back(control, id);
    return control;
  }
  void apply(const LanguageModule& language) const;

 private:
  std::vector<std::pair<QWidget*, int>> entries_;
};

QLabel* makeLabel(Captions& captions, QWidget* parent, int id);
QCheckBox* makeCheck(Captions& captions, QWidget* parent, int id);
QComboBox* makeList(Captions& captions, QWidget* parent, int id);
QLineEdit* makeField(Captions& captions, QWidget* parent, int id);
QPushButton* makeButton(Captions& captions, QWidget* parent, int id);
QGroupBox* makeGroup(Captions& captions, QWidget* parent, int id);
class NumberField;
// A number field (fieldId) with arrows (spinId, 0 for none) of the given range and width.
NumberField* makeNumber(Captions& captions, QWidget* parent, int fieldId, int spinId, int minimum, int maximum,
                        int width);

// Replaces a list's entries and selects index, without a change notification.
void fillList(QComboBox* list, const QStringList& texts, int index);
// Selects index without a change notification.
void selectEntry(QComboBox* list, int index);
// Sets a check box without a change notification.
void setChecked(QCheckBox* box, bool checked);

// The texts of consecutive ids.
QStringList textsOf(const LanguageModule& language, int firstId, int count);
// The input format list: all images, the five formats, the user's extensions.
QStringList inputFormatTexts(const LanguageModule& language);
QStringList outputFormatTexts();

}  // namespace velorin::ui
