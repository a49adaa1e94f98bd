#include "ui/page_options.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "engine/language.h"
#include "platform/desktop_entry.h"

namespace velorin::ui {

namespace {

using AS = ApplicationSettings;
constexpr uint32_t kHiddenAttribute = 2;
constexpr int kNormalFontHeight = -12;
constexpr int kLargeFontHeight = -14;
constexpr int kBoldWeight = 700;
constexpr int kNormalWeight = 400;
constexpr int kFontSizeTexts = 1443;  // normal, large
constexpr int kErrorCaption = 30000;

}  // namespace

OptionsPage::OptionsPage(PageHost& pageHost, QWidget* parent) : SettingsPage(pageHost, 20014, parent) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setSpacing(4);
  grid->addWidget(buildMessages(), 0, 0, 2, 1);
  grid->addWidget(buildStartFolders(1410, &AS::IIFolder, &AS::ISPath, inputStart_, inputStartPath_), 0, 1);
  grid->addWidget(buildStartFolders(1420, &AS::OIFolder, &AS::OSPath, outputStart_, outputStartPath_), 1, 1);
  grid->addWidget(buildCommandLine(), 2, 0, 1, 2);
  grid->addWidget(buildFontAndLanguage(), 3, 0, 1, 2);
  grid->setRowStretch(4, 1);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);
}

QCheckBox* OptionsPage::addFlag(QWidget* parent, int id, bool AS::*flag) {
  QCheckBox* box = makeCheck(captions_, parent, id);
  flags_.emplace_back(box, flag);
  connect(box, &QCheckBox::toggled, this, [this, flag](bool on) { application().*flag = on; });
  return box;
}

QLineEdit* OptionsPage::addPathField(QWidget* parent, int id, QString AS::*path) {
  QLineEdit* field = makeField(captions_, parent, id);
  paths_.emplace_back(field, path);
  connect(field, &QLineEdit::textChanged, this, [this, path](const QString& text) { application().*path = text; });
  registerDropTarget(field, [field](const QString& dropped) {
    // A dropped file stands for its folder: these fields name folders.
    const QFileInfo info(dropped);
    field->setText(info.isDir() ? dropped : info.absolutePath());
  });
  return field;
}

QWidget* OptionsPage::buildMessages() {
  QGroupBox* group = makeGroup(captions_, this, 1400);
  auto* column = new QVBoxLayout(group);
  column->setSpacing(2);
  column->addWidget(addFlag(group, 1401, &AS::EndMes));
  column->addWidget(addFlag(group, 1402, &AS::FileMes));
  column->addWidget(addFlag(group, 1403, &AS::Reset));
  column->addWidget(addFlag(group, 1404, &AS::TipAct));
  column->addWidget(addFlag(group, 1405, &AS::FileBg));
  hidden_ = makeCheck(captions_, group, 1406);
  column->addWidget(hidden_);
  column->addStretch(1);
  connect(hidden_, &QCheckBox::toggled, this, [this](bool on) {
    auto mask = static_cast<uint32_t>(application().Hidden);
    mask = on ? mask | kHiddenAttribute : mask & ~kHiddenAttribute;
    application().Hidden = static_cast<int32_t>(mask);
    host().rebuildFileList();
  });
  return group;
}

QWidget* OptionsPage::buildStartFolders(int groupId, int32_t AS::*choice, QString AS::*path,
                                        std::array<QRadioButton*, 3>& radios, QLineEdit*& field) {
  QGroupBox* group = makeGroup(captions_, this, groupId);
  auto* grid = new QGridLayout(group);
  grid->setVerticalSpacing(2);
  auto* buttons = new QButtonGroup(group);
  for (int i = 0; i < 3; ++i) {
    radios[i] = new QRadioButton(group);
    captions_.add(radios[i], groupId + 1 + i);
    buttons->addButton(radios[i], i);
  }
  field = addPathField(group, groupId + 4, path);
  grid->addWidget(radios[0], 0, 0);
  grid->addWidget(radios[1], 0, 1);
  grid->addWidget(radios[2], 1, 0, 1, 2);
  grid->addWidget(field, 2, 0, 1, 2);
  connect(buttons, &QButtonGroup::idToggled, this, [this, choice](int id, bool on) {
    if (on) application().*choice = id;
  });
  return group;
}

QWidget* OptionsPage::buildCommandLine() {
  QGroupBox* group = makeGroup(captions_, this, 1430);
  auto* grid = new QGridLayout(group);
  grid->setVerticalSpacing(2);
  sendTo_ = makeCheck(captions_, group, 1431);
  grid->addWidget(sendTo_, 0, 0, 1, 3);
  grid->addWidget(addFlag(group, 1432, &AS::SdToCvt), 1, 0);
  QLabel* pathLabel = makeLabel(captions_, group, 1433);
  QLineEdit* path = addPathField(group, 1434, &AS::SdToPath);
  pathLabel->setBuddy(path);
  grid->addWidget(pathLabel, 1, 1);
  grid->addWidget(path, 1, 2);
  grid->setColumnStretch(2, 1);
  connect(sendTo_, &QCheckBox::toggled, this, [this](bool on) {
    if (!updateSendToEntry(on, QCoreApplication::applicationFilePath()))
      QMessageBox::warning(this, host().language().text(kErrorCaption), host().language().text(1435));
    setChecked(sendTo_, QFileInfo::exists(sendToEntryPath()));
  });
  return group;
}

QWidget* OptionsPage::buildFontAndLanguage() {
  auto* holder = new QWidget(this);
  auto* row = new QHBoxLayout(holder);
  row->setContentsMargins(0, 0, 0, 0);
  QGroupBox* font = makeGroup(captions_, holder, 1440);
  auto* fontRow = new QHBoxLayout(font);
  QLabel* sizeLabel = makeLabel(captions_, font, 1441);
  fontSize_ = makeList(captions_, font, 1442);
  sizeLabel->setBuddy(fontSize_);
  bold_ = makeCheck(captions_, font, 1445);
  fontRow->addWidget(sizeLabel);
  fontRow->addWidget(fontSize_);
  fontRow->addWidget(bold_);
  fontRow->addStretch(1);
  QGroupBox* language = makeGroup(captions_, holder, 1450);
  auto* languageRow = new QHBoxLayout(language);
  language_ = makeList(captions_, language, 1451);
  languageRow->addWidget(language_, 1);
  row->addWidget(font, 1);
  row->addWidget(language, 1);

  connect(fontSize_, &QComboBox::currentIndexChanged, this, [this](int index) {
    application().FHeight = index == 1 ? kLargeFontHeight : kNormalFontHeight;
    host().interfaceFontChanged();
  });
  connect(bold_, &QCheckBox::toggled, this, [this](bool on) {
    application().FWeight = on ? kBoldWeight : kNormalWeight;
    host().interfaceFontChanged();
  });
  // Applied when the list closes with a choice, as a selection made with the arrow keys while
  // it is closed would switch at every step.
  connect(language_, &QComboBox::activated, this, [this](int index) { host().switchLanguage(language_->itemText(index)); });
  return holder;
}

void OptionsPage::fillLanguages() {
  int current = -1;
  const QStringList names = listLanguages(host().languageFolder(), application().LangFile, current);
  fillList(language_, names, current);
}

void OptionsPage::showSettings() {
  const ApplicationSettings& a = application();
  for (const auto& [box, flag] : flags_) setChecked(box, a.*flag);
  setChecked(hidden_, (static_cast<uint32_t>(a.Hidden) & kHiddenAttribute) != 0);
  for (const auto& [field, path] : paths_) {
    const QSignalBlocker blocker(field);
    field->setText(a.*path);
  }
  for (auto [radios, choice] : {std::pair{&inputStart_, a.IIFolder}, std::pair{&outputStart_, a.OIFolder}}) {
    QRadioButton* chosen = (*radios)[static_cast<size_t>(std::clamp(choice, 0, 2))];
    const QSignalBlocker blocker(chosen->group());
    chosen->setChecked(true);
  }
  setChecked(sendTo_, QFileInfo::exists(sendToEntryPath()));
  selectEntry(fontSize_, a.FHeight == kLargeFontHeight ? 1 : 0);
  setChecked(bold_, a.FWeight >= kBoldWeight);
  fillLanguages();
}

void OptionsPage::relabel() {
  captions_.apply(host().language());
  fillList(fontSize_, textsOf(host().language(), kFontSizeTexts, 2), application().FHeight == kLargeFontHeight ? 1 : 0);
  fillLanguages();
}

}  // namespace velorin::ui
