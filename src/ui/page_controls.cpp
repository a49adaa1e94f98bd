#include "ui/page_controls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "engine/language.h"
#include "ui/controls.h"
#include "ui/number_field.h"

namespace velorin::ui {

namespace {
constexpr int kAllImagesText = 1107;
constexpr int kUserExtensionsText = 1108;
}  // namespace

void Captions::apply(const LanguageModule& language) const {
  for (const auto& [control, id] : entries_) setCaption(control, language, id);
}

template <typename Control>
static Control* make(Captions& captions, QWidget* parent, int id) {
  auto* control = new Control(parent);
  nameControl(control, id);
  return captions.add(control, id);
}

QLabel* makeLabel(Captions& c, QWidget* parent, int id) { return make<QLabel>(c, parent, id); }
QCheckBox* makeCheck(Captions& c, QWidget* parent, int id) { return make<QCheckBox>(c, parent, id); }
QComboBox* makeList(Captions& c, QWidget* parent, int id) { return make<QComboBox>(c, parent, id); }
QLineEdit* makeField(Captions& c, QWidget* parent, int id) { return make<QLineEdit>(c, parent, id); }
QPushButton* makeButton(Captions& c, QWidget* parent, int id) { return make<QPushButton>(c, parent, id); }
QGroupBox* makeGroup(Captions& c, QWidget* parent, int id) { return make<QGroupBox>(c, parent, id); }

NumberField* makeNumber(Captions& captions, QWidget* parent, int fieldId, int spinId, int minimum, int maximum,
                        int width) {
  auto* field = new NumberField(fieldId, spinId, minimum, maximum, parent);
  field->setFieldWidth(width);
  captions.add(field->edit(), fieldId);
  if (field->arrows() != nullptr) captions.add(field->arrows(), spinId);
  return field;
}

void fillList(QComboBox* list, const QStringList& texts, int index) {
  const QSignalBlocker blocker(list);
  list->clear();
  list->addItems(texts);
  list->setCurrentIndex(index);
}

void selectEntry(QComboBox* list, int index) {
  const QSignalBlocker blocker(list);
  list->setCurrentIndex(index);
}

void setChecked(QCheckBox* box, bool checked) {
  const QSignalBlocker blocker(box);
  box->setChecked(checked);
}

QStringList textsOf(const LanguageModule& language, int firstId, int count) {
  QStringList texts;
  for (int i = 0; i < count; ++i) texts.append(language.text(firstId + i));
  return texts;
}

QStringList inputFormatTexts(const LanguageModule& language) {
  QStringList texts{language.text(kAllImagesText)};
  texts.append(outputFormatTexts());
  texts.append(language.text(kUserExtensionsText));
  return texts;
}

QStringList outputFormatTexts() {
  return {QStringLiteral("BMP"), QStringLiteral("PNG"), QStringLiteral("JPEG"), QStringLiteral("TIFF"),
          QStringLiteral("GIF")};
}

}  // namespace velorin::ui
