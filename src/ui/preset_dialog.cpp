#include "ui/preset_dialog.h"

#include <QButtonGroup>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "engine/language.h"
#include "ui/controls.h"

namespace velorin::ui {

bool choosePresetToSave(QWidget* parent, const LanguageModule& language, const Presets& presets,
                        PresetChoice& choice) {
  QDialog dialog(parent);
  nameControl(&dialog, 2300);
  dialog.setWindowTitle(language.text(2300));
  auto* column = new QVBoxLayout(&dialog);
  auto* group = new QGroupBox(&dialog);
  setCaption(group, language, 2301);
  auto* groupColumn = new QVBoxLayout(group);
  auto* buttons = new QButtonGroup(&dialog);
  for (int i = 0; i < kPresetCount; ++i) {
    auto* radio = new QRadioButton(group);
    nameControl(radio, 2311 + i);
    const QString text = QStringLiteral("&%1  %2").arg(i + 1).arg(presetListText(presets[i]));
    radio->setText(text);
    radio->setAccessibleName(text.mid(1));
    buttons->addButton(radio, i);
    groupColumn->addWidget(radio);
  }
  column->addWidget(group);

  auto* nameRow = new QHBoxLayout;
  auto* nameLabel = new QLabel(&dialog);
  setCaption(nameLabel, language, 2320);
  auto* name = new QLineEdit(&dialog);
  setCaption(name, language, 2321);
  name->setMaxLength(kPresetNameLength);
  name->setMinimumWidth(200);
  nameLabel->setBuddy(name);
  nameRow->addWidget(nameLabel);
  nameRow->addWidget(name, 1);
  column->addLayout(nameRow);
  auto* hint = new QLabel(&dialog);
  setCaption(hint, language, 2322);
  hint->setWordWrap(true);
  column->addWidget(hint);

  QObject::connect(buttons, &QButtonGroup::idClicked, &dialog,
                   [&presets, name](int id) { name->setText(presets[static_cast<size_t>(id)].name); });
  const int first = presetToMarkFirst(presets);
  buttons->button(first)->setChecked(true);
  name->setText(presets[static_cast<size_t>(first)].name);

  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  setCaption(box->button(QDialogButtonBox::Ok), language, 2303);
  setCaption(box->button(QDialogButtonBox::Cancel), language, 2304);
  QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  column->addWidget(box);
  name->setFocus();

  if (dialog.exec() != QDialog::Accepted) return false;
  choice.number = std::max(0, buttons->checkedId());
  choice.name = name->text().left(kPresetNameLength);
  return true;
}

}  // namespace velorin::ui
