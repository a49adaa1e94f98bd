#include "ui/page_settings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/file_list.h"
#include "engine/language.h"
#include "settings/page_rules.h"
#include "settings/presets.h"
#include "ui/number_field.h"

namespace velorin::ui {

namespace {

constexpr int kNameTextLength = 23;
constexpr int kPresetTitleText = 1184;
constexpr int kPresetSaveText = 1189;
constexpr int kNamingTexts = 1155;  // source name, EXIF date, serial number

QHBoxLayout* rowOf(std::initializer_list<QWidget*> widgets, bool stretch = true) {
  auto* row = new QHBoxLayout;
  row->setSpacing(4);
  for (QWidget* w : widgets) row->addWidget(w);
  if (stretch) row->addStretch(1);
  return row;
}

QWidget* holderOf(QLayout* layout) {
  auto* holder = new QWidget;
  layout->setContentsMargins(0, 0, 0, 0);
  holder->setLayout(layout);
  return holder;
}

}  // namespace

SettingsTabPage::SettingsTabPage(PageHost& host, QWidget* parent) : SettingsPage(host, 20011, parent) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(2);
  grid->addWidget(buildFormats(), 0, 0, 1, 2);
  grid->addWidget(buildFormatOptions(), 1, 0);
  grid->addWidget(buildProcessing(), 2, 0);
  grid->addWidget(buildNaming(), 1, 1, 2, 1);
  grid->addWidget(buildSourcesAndPresets(), 3, 0, 1, 2);
  grid->setRowStretch(4, 1);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);
}

QWidget* SettingsTabPage::buildFormats() {
  QGroupBox* group = makeGroup(captions_, this, 1100);
  inputFormat_ = makeList(captions_, group, 1102);
  outputFormat_ = makeList(captions_, group, 1104);
  lossless_ = makeCheck(captions_, group, 1105);
  QLabel* inputLabel = makeLabel(captions_, group, 1101);
  QLabel* outputLabel = makeLabel(captions_, group, 1103);
  inputLabel->setBuddy(inputFormat_);
  outputLabel->setBuddy(outputFormat_);
  auto* row = rowOf({inputLabel, inputFormat_, outputLabel, outputFormat_, lossless_});
  row->insertSpacing(2, 12);
  row->insertSpacing(5, 12);
  group->setLayout(row);

  connect(inputFormat_, &QComboBox::currentIndexChanged, this, [this](int index) {
    chooseInputFormat(conversion(), index);
    changed();
    host().rebuildFileList();
  });
  connect(outputFormat_, &QComboBox::currentIndexChanged, this, [this](int index) {
    const bool wasLossless = conversion().JTrans;
    chooseOutputFormat(conversion(), index);
    changed();
    if (wasLossless) host().rebuildFileList();
  });
  connect(lossless_, &QCheckBox::toggled, this, [this](bool on) {
    setLosslessTransform(conversion(), on);
    changed();
    host().rebuildFileList();
  });
  return group;
}

QWidget* SettingsTabPage::buildFormatOptions() {
  QGroupBox* group = makeGroup(captions_, this, 1110);
  auto* column = new QVBoxLayout(group);
  column->setSpacing(2);
  noOptions_ = makeLabel(captions_, group, 1111);
  column->addWidget(noOptions_);

  level_ = makeNumber(captions_, group, 1113, 1114, 0, 9, 36);
  QLabel* levelLabel = makeLabel(captions_, group, 1112);
  levelLabel->setBuddy(level_->edit());
  pngControls_ = holderOf(rowOf({levelLabel, level_, makeLabel(captions_, group, 1115)}));
  column->addWidget(pngControls_);

  quality_ = makeNumber(captions_, group, 1121, 0, 1, 100, 40);
  QLabel* qualityLabel = makeLabel(captions_, group, 1120);
  qualityLabel->setBuddy(quality_->edit());
  sampling_ = makeList(captions_, group, 1124);
  QLabel* samplingLabel = makeLabel(captions_, group, 1123);
  samplingLabel->setBuddy(sampling_);
  limit_ = makeCheck(captions_, group, 1125);
  limitValue_ = makeNumber(captions_, group, 1126, 1127, 1, 32767, 52);
  limitUnit_ = makeLabel(captions_, group, 1128);
  auto* jpegColumn = new QVBoxLayout;
  jpegColumn->setSpacing(2);
  jpegColumn->addLayout(rowOf({qualityLabel, quality_, makeLabel(captions_, group, 1122)}));
  jpegColumn->addLayout(rowOf({samplingLabel, sampling_}));
  jpegColumn->addLayout(rowOf({limit_, limitValue_, limitUnit_}));
  jpegControls_ = holderOf(jpegColumn);
  column->addWidget(jpegControls_);

  marker_ = makeList(captions_, group, 1130);
  QLabel* markerLabel = makeLabel(captions_, group, 1129);
  markerLabel->setBuddy(marker_);
  markerControls_ = holderOf(rowOf({markerLabel, marker_}));
  column->addWidget(markerControls_);
  column->addStretch(1);

  storeNumber(level_, &ConversionSettings::Level);
  storeNumber(quality_, &ConversionSettings::Quality);
  storeNumber(limitValue_, &ConversionSettings::LmtVal);
  connect(sampling_, &QComboBox::currentIndexChanged, this,
          [this](int index) { conversion().Sampling = samplingValue(index); });
  connect(limit_, &QCheckBox::toggled, this, [this](bool on) {
    conversion().Limit = on;
    updateOutputFormatControls();
  });
  connect(marker_, &QComboBox::currentIndexChanged, this, [this](int index) { conversion().Marker = index; });
  return group;
}

QWidget* SettingsTabPage::buildProcessing() {
  QGroupBox* group = makeGroup(captions_, this, 1140);
  auto* grid = new QGridLayout(group);
  grid->setVerticalSpacing(2);
  resizeLabel_ = makeLabel(captions_, group, 1141);
  resize_ = makeList(captions_, group, 1142);
  resizeLabel_->setBuddy(resize_);
  resizeSizeField_ = makeField(captions_, group, 1144);
  resizeSizeField_->setValidator(new QIntValidator(-99999, 99999, resizeSizeField_));
  resizeSizeField_->setFixedWidth(52);
  QLabel* toLabel = makeLabel(captions_, group, 1143);
  QLabel* pixels = makeLabel(captions_, group, 1146);
  resizeSize_ = {toLabel, resizeSizeField_, pixels};
  grid->addWidget(resizeLabel_, 0, 0);
  grid->addWidget(resize_, 0, 1);
  grid->addLayout(rowOf({toLabel, resizeSizeField_, pixels}), 1, 1);
  sharpenLabel_ = makeLabel(captions_, group, 1147);
  sharpen_ = makeList(captions_, group, 1148);
  sharpenLabel_->setBuddy(sharpen_);
  grid->addWidget(sharpenLabel_, 2, 0);
  grid->addWidget(sharpen_, 2, 1);
  QLabel* rotateLabel = makeLabel(captions_, group, 1149);
  rotate_ = makeList(captions_, group, 1150);
  rotateLabel->setBuddy(rotate_);
  grid->addWidget(rotateLabel, 3, 0);
  grid->addWidget(rotate_, 3, 1);
  grid->setColumnStretch(1, 1);

  connect(resize_, &QComboBox::currentIndexChanged, this, [this](int index) {
    conversion().RszOpt = index;
    updateOutputFormatControls();
  });
  connect(resizeSizeField_, &QLineEdit::textEdited, this,
          [this](const QString& text) { conversion().RszSize = text.toInt(); });
  connect(sharpen_, &QComboBox::currentIndexChanged, this, [this](int index) { conversion().UsmOpt = index; });
  connect(rotate_, &QComboBox::currentIndexChanged, this, [this](int index) { conversion().TurOpt = index; });
  return group;
}

QWidget* SettingsTabPage::buildNaming() {
  QGroupBox* group = makeGroup(captions_, this, 1160);
  auto* grid = new QGridLayout(group);
  grid->setVerticalSpacing(2);
  QLabel* nameLabel = makeLabel(captions_, group, 1161);
  naming_ = makeList(captions_, group, 1162);
  nameLabel->setBuddy(naming_);
  grid->addWidget(nameLabel, 0, 0);
  grid->addWidget(naming_, 0, 1);

  digits_ = makeNumber(captions_, group, 1164, 1165, 1, 5, 30);
  startNumber_ = makeNumber(captions_, group, 1171, 1172, 0, 9999, 44);
  QLabel* digitsLabel = makeLabel(captions_, group, 1163);
  QLabel* startLabel = makeLabel(captions_, group, 1170);
  digitsLabel->setBuddy(digits_->edit());
  startLabel->setBuddy(startNumber_->edit());
  serial_ = {digitsLabel, digits_, startLabel, startNumber_};
  grid->addWidget(digitsLabel, 1, 0);
  grid->addWidget(digits_, 1, 1, Qt::AlignLeft);
  grid->addWidget(startLabel, 2, 0);
  grid->addWidget(startNumber_, 2, 1, Qt::AlignLeft);

  auto addText = [&](int checkId, int fieldId, int row, QCheckBox*& check, QLineEdit*& field) {
    check = makeCheck(captions_, group, checkId);
    field = makeField(captions_, group, fieldId);
    field->setMaxLength(kNameTextLength);
    grid->addWidget(check, row, 0);
    grid->addWidget(field, row, 1);
  };
  addText(1173, 1174, 3, prefixOn_, prefix_);
  addText(1175, 1176, 4, suffixOn_, suffix_);
  addText(1177, 1178, 5, subFolderOn_, subFolder_);
  grid->setRowStretch(6, 1);

  connect(naming_, &QComboBox::currentIndexChanged, this, [this](int index) {
    conversion().NameSet = index;
    updateOutputFormatControls();
  });
  storeNumber(digits_, &ConversionSettings::DigitNum);
  storeNumber(startNumber_, &ConversionSettings::StartNum);
  connect(prefixOn_, &QCheckBox::toggled, this, [this](bool on) { conversion().TopAdd = on; });
  connect(suffixOn_, &QCheckBox::toggled, this, [this](bool on) { conversion().EndAdd = on; });
  connect(subFolderOn_, &QCheckBox::toggled, this, [this](bool on) { conversion().MkDirAdd = on; });
  connect(prefix_, &QLineEdit::textEdited, this, [this](const QString& t) { conversion().TopStr = t; });
  connect(suffix_, &QLineEdit::textEdited, this, [this](const QString& t) { conversion().EndStr = t; });
  connect(subFolder_, &QLineEdit::textEdited, this, [this](const QString& t) { conversion().MkDirStr = t; });
  return group;
}

QWidget* SettingsTabPage::buildSourcesAndPresets() {
  auto* holder = new QWidget(this);
  auto* column = new QVBoxLayout(holder);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  QGroupBox* sources = makeGroup(captions_, holder, 1179);
  deleteSources_ = makeCheck(captions_, sources, 1180);
  recycle_ = makeCheck(captions_, sources, 1181);
  QLabel* presetLabel = makeLabel(captions_, sources, 1182);
  presets_ = makeList(captions_, sources, 1183);
  presets_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  presetLabel->setBuddy(presets_);
  auto* sourcesRow = rowOf({deleteSources_, recycle_});
  sourcesRow->addWidget(presetLabel);
  sourcesRow->addWidget(presets_);
  sources->setLayout(sourcesRow);
  column->addWidget(sources);

  QLabel* summaryLabel = makeLabel(captions_, holder, 1190);
  summary_ = makeLabel(captions_, holder, 1191);
  summary_->setFrameShape(QFrame::StyledPanel);
  summary_->setMinimumWidth(100);
  summary_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  reset_ = makeButton(captions_, holder, 1192);
  auto* summaryRow = new QHBoxLayout;
  summaryRow->addWidget(summaryLabel);
  summaryRow->addWidget(summary_, 1);
  summaryRow->addWidget(reset_);
  column->addLayout(summaryRow);

  connect(deleteSources_, &QCheckBox::toggled, this, [this](bool on) {
    conversion().IFileDel = on;
    updateOutputFormatControls();
  });
  connect(recycle_, &QCheckBox::toggled, this, [this](bool on) { conversion().Recycle = on; });
  connect(presets_, &QComboBox::activated, this, [this](int entry) {
    selectEntry(presets_, 0);
    if (entry > 0) host().presetChosen(entry);
  });
  connect(reset_, &QPushButton::clicked, this, [this] {
    resetOutputOptions(conversion());
    changed();
  });
  return holder;
}

// The settings follow the field as it is typed, so a page shown again (after a list or check
// box changed) shows what the user typed.
void SettingsTabPage::storeNumber(NumberField* field, int32_t ConversionSettings::*setting) {
  connect(field, &NumberField::editing, this, [this, setting](int v) { conversion().*setting = v; });
  connect(field, &NumberField::committed, this, [this, setting](int v) { conversion().*setting = v; });
}

void SettingsTabPage::changed() { host().settingsChanged(); }

void SettingsTabPage::fillLists() {
  const LanguageModule& language = host().language();
  const ConversionSettings& s = conversion();
  fillList(inputFormat_, inputFormatTexts(language), s.IFmt);
  fillList(outputFormat_, outputFormatTexts(), s.OFmt);
  fillList(sampling_, textsOf(language, 20030, 2), samplingEntry(s.Sampling));
  fillList(marker_, textsOf(language, 20032, 3), s.Marker);
  const QString none = language.text(kSummaryNoneText);
  fillList(resize_, QStringList{none} + textsOf(language, 20040, 3), s.RszOpt);
  fillList(sharpen_, QStringList{none} + textsOf(language, 20050, 3), s.UsmOpt);
  fillList(rotate_, QStringList{none} + textsOf(language, 20060, 4), s.TurOpt);
  fillList(naming_, textsOf(language, kNamingTexts, 3), s.NameSet);
  QStringList presetTexts{language.text(kPresetTitleText)};
  for (const Preset& preset : host().settings().presets) presetTexts.append(presetListText(preset));
  presetTexts.append(language.text(kPresetSaveText));
  fillList(presets_, presetTexts, 0);
}

void SettingsTabPage::showSettings() {
  const ConversionSettings& s = conversion();
  fillLists();
  setChecked(lossless_, s.JTrans);
  level_->setValue(s.Level);
  quality_->setValue(s.Quality);
  setChecked(limit_, s.Limit);
  limitValue_->setValue(s.LmtVal);
  resizeSizeField_->setText(QString::number(s.RszSize));
  digits_->setValue(s.DigitNum);
  startNumber_->setValue(s.StartNum);
  setChecked(prefixOn_, s.TopAdd);
  setChecked(suffixOn_, s.EndAdd);
  setChecked(subFolderOn_, s.MkDirAdd);
  prefix_->setText(s.TopStr);
  suffix_->setText(s.EndStr);
  subFolder_->setText(s.MkDirStr);
  setChecked(deleteSources_, s.IFileDel);
  setChecked(recycle_, s.Recycle);
  updateOutputFormatControls();
}

void SettingsTabPage::updateOutputFormatControls() {
  const bool archive = host().fileList().kind() != SourceKind::Folder;
  const PageControlStates states = pageControlStates(conversion(), archive);
  noOptions_->setVisible(states.noOptionsShown);
  pngControls_->setVisible(states.pngShown);
  jpegControls_->setVisible(states.jpegShown);
  limitValue_->setEnabled(states.limitEnabled);
  limitUnit_->setEnabled(states.limitEnabled);
  markerControls_->setVisible(states.markerShown);
  for (QWidget* w : {static_cast<QWidget*>(resizeLabel_), static_cast<QWidget*>(resize_),
                     static_cast<QWidget*>(sharpenLabel_), static_cast<QWidget*>(sharpen_)})
    w->setEnabled(states.resizeEnabled);
  for (QWidget* w : resizeSize_) w->setEnabled(states.resizeSizeEnabled);
  for (QWidget* w : serial_) w->setEnabled(states.serialEnabled);
  deleteSources_->setEnabled(states.deleteEnabled);
  recycle_->setEnabled(states.recycleEnabled);
  updateSummary();
}

void SettingsTabPage::updateSummary() {
  const LanguageModule& language = host().language();
  QStringList names;
  for (int id : outputSummaryIds(conversion())) names.append(language.text(id).remove(QLatin1Char('&')));
  summary_->setText(names.isEmpty() ? language.text(kSummaryNoneText) : names.join(QStringLiteral(", ")));
  summary_->setToolTip(summary_->text());
}

void SettingsTabPage::giveValues(PageValues& values) const {
  values.Level = level_->value();
  values.Quality = quality_->value();
  values.LmtVal = limitValue_->value();
  values.RszSizeText = resizeSizeField_->text();
  values.DigitNum = digits_->value();
  values.StartNum = startNumber_->value();
  values.TopStr = prefix_->text();
  values.EndStr = suffix_->text();
  values.MkDirStr = subFolder_->text();
}

void SettingsTabPage::showCorrections(const PageCorrections& corrections) {
  if (corrections.resizeSwitchedOff) {
    selectEntry(resize_, 0);
    updateOutputFormatControls();
  }
}

void SettingsTabPage::relabel() {
  captions_.apply(host().language());
  // The summary's caption is its text, rewritten from the settings, not the language file.
  fillLists();
  updateSummary();
}

void SettingsTabPage::fileListChanged() { updateOutputFormatControls(); }

}  // namespace velorin::ui
