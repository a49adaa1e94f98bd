#include "ui/page_output.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include "engine/file_list.h"
#include "engine/language.h"
#include "settings/page_rules.h"
#include "ui/comment_dialog.h"
#include "ui/number_field.h"

namespace velorin::ui {

using CS = ConversionSettings;

OutputPage::OutputPage(PageHost& pageHost, QWidget* parent) : SettingsPage(pageHost, 20013, parent) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setSpacing(4);
  grid->addWidget(buildFormat(), 0, 0, 1, 2);
  grid->addWidget(buildOptions(), 1, 0);
  grid->addWidget(buildAfterConversion(), 1, 1);
  grid->addWidget(buildAdjustments(), 2, 0, 1, 2);
  grid->setRowStretch(3, 1);
}

QWidget* OutputPage::buildFormat() {
  QGroupBox* group = makeGroup(captions_, this, 1300);
  auto* row = new QHBoxLayout(group);
  outputFormat_ = makeList(captions_, group, 1301);
  lossless_ = makeCheck(captions_, group, 1302);
  QLabel* depthLabel = makeLabel(captions_, group, 1311);
  depth_ = makeList(captions_, group, 1312);
  depthLabel->setBuddy(depth_);
  row->addWidget(outputFormat_);
  row->addWidget(lossless_);
  row->addSpacing(12);
  row->addWidget(depthLabel);
  row->addWidget(depth_);
  row->addWidget(addFlag(group, 1313, &CS::Dither));
  row->addStretch(1);

  connect(outputFormat_, &QComboBox::currentIndexChanged, this, [this](int index) {
    const bool wasLossless = conversion().JTrans;
    chooseOutputFormat(conversion(), index);
    host().settingsChanged();
    if (wasLossless) host().rebuildFileList();
  });
  connect(lossless_, &QCheckBox::toggled, this, [this](bool on) {
    setLosslessTransform(conversion(), on);
    host().settingsChanged();
    host().rebuildFileList();
  });
  connect(depth_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index < 0 || index >= static_cast<int>(depthValues_.size())) return;
    conversion().DepOpt = depthValues_[static_cast<size_t>(index)];
    host().settingsChanged();
  });
  return group;
}

QCheckBox* OutputPage::addFlag(QWidget* parent, int id, bool CS::*flag) {
  QCheckBox* box = makeCheck(captions_, parent, id);
  flags_.emplace_back(box, flag);
  connect(box, &QCheckBox::toggled, this, [this, flag](bool on) {
    conversion().*flag = on;
    // The summary on the settings page follows every output option.
    host().settingsChanged();
  });
  return box;
}

QWidget* OutputPage::buildOptions() {
  QGroupBox* group = makeGroup(captions_, this, 1320);
  auto* grid = new QGridLayout(group);
  grid->setVerticalSpacing(2);
  transparency_ = addFlag(group, 1314, &CS::Trans);
  interlace_ = addFlag(group, 1315, &CS::Interlace);
  progressive_ = addFlag(group, 1316, &CS::Progressive);
  exifCopy_ = addFlag(group, 1317, &CS::CopyExif);
  comment_ = addFlag(group, 1318, &CS::CmtOpt);
  commentEdit_ = makeButton(captions_, group, 1319);
  grid->addWidget(transparency_, 0, 0);
  grid->addWidget(interlace_, 0, 1);
  grid->addWidget(progressive_, 1, 0);
  grid->addWidget(exifCopy_, 1, 1);
  grid->addWidget(comment_, 2, 0);
  grid->addWidget(commentEdit_, 2, 1, Qt::AlignLeft);
  connect(commentEdit_, &QPushButton::clicked, this, &OutputPage::editComment);
  return group;
}

QWidget* OutputPage::buildAfterConversion() {
  QGroupBox* group = makeGroup(captions_, this, 1390);
  auto* column = new QVBoxLayout(group);
  column->setSpacing(2);
  column->addWidget(addFlag(group, 1380, &CS::HtmlTag));
  column->addWidget(addFlag(group, 1381, &CS::Round10));
  column->addWidget(addFlag(group, 1382, &CS::WrTimeCopy));
  column->addWidget(addFlag(group, 1383, &CS::CrTimeCopy));
  column->addStretch(1);
  return group;
}

QWidget* OutputPage::buildAdjustments() {
  QGroupBox* group = makeGroup(captions_, this, 1330);
  auto* grid = new QGridLayout(group);
  grid->setVerticalSpacing(2);
  levels_ = addFlag(group, 1331, &CS::HgmOpt);
  grid->addWidget(levels_, 0, 0, 1, 3);
  addAdjustment(grid, 1, 1340, kGammaRange.minimum, kGammaRange.maximum, &CS::GamOpt, &CS::GamVal,
                adjustments_[0]);
  addAdjustment(grid, 2, 1350, kContrastRange.minimum, kContrastRange.maximum, &CS::CrtOpt, &CS::CrtVal,
                adjustments_[1]);
  addAdjustment(grid, 3, 1360, kSaturationRange.minimum, kSaturationRange.maximum, &CS::HlsSOpt,
                &CS::HlsSVal, adjustments_[2]);
  addAdjustment(grid, 4, 1370, kHueRange.minimum, kHueRange.maximum, &CS::HlsHOpt, &CS::HlsHVal,
                adjustments_[3]);
  grid->setColumnStretch(2, 1);
  return group;
}

// Ids: check box id, field id + 1, arrows id + 2, slider id + 3.
void OutputPage::addAdjustment(QGridLayout* grid, int row, int id, int minimum, int maximum, bool CS::*on,
                               int32_t CS::*level, Adjustment& a) {
  QWidget* parent = grid->parentWidget();
  a.on = on;
  a.level = level;
  a.check = makeCheck(captions_, parent, id);
  a.field = makeNumber(captions_, parent, id + 1, id + 2, minimum, maximum, 44);
  a.slider = new QSlider(Qt::Horizontal, parent);
  captions_.add(a.slider, id + 3);
  a.slider->setRange(minimum, maximum);
  a.slider->setPageStep((maximum - minimum) / 20);
  grid->addWidget(a.check, row, 0);
  grid->addWidget(a.field, row, 1);
  grid->addWidget(a.slider, row, 2);

  connect(a.check, &QCheckBox::toggled, this, [this, on](bool checked) {
    conversion().*on = checked;
    host().settingsChanged();
  });
  // Typing moves the slider at once; the field itself is corrected only when it is left.
  connect(a.field, &NumberField::editing, this, [this, slider = a.slider, level](int value) {
    const QSignalBlocker blocker(slider);
    slider->setValue(value);
    conversion().*level = value;
  });
  connect(a.field, &NumberField::committed, this, [this, slider = a.slider, level](int value) {
    const QSignalBlocker blocker(slider);
    slider->setValue(value);
    conversion().*level = value;
  });
  connect(a.slider, &QSlider::valueChanged, this, [this, field = a.field, level](int value) {
    field->setValue(value);
    conversion().*level = value;
  });
}

void OutputPage::fillDepthList() {
  const ConversionSettings& s = conversion();
  depthValues_ = depthChoices(s.OFmt, s.JTrans);
  QStringList texts;
  int index = 0;
  for (size_t i = 0; i < depthValues_.size(); ++i) {
    texts.append(host().language().text(kDepthTextBase + depthValues_[i]));
    if (depthValues_[i] == s.DepOpt) index = static_cast<int>(i);
  }
  fillList(depth_, texts, index);
}

void OutputPage::updateOutputFormatControls() {
  ConversionSettings& s = conversion();
  keepDepthAmongChoices(s);
  fillDepthList();
  const PageControlStates states = pageControlStates(s, host().fileList().kind() != SourceKind::Folder);
  transparency_->setEnabled(states.transparencyEnabled);
  interlace_->setEnabled(states.interlaceEnabled);
  progressive_->setEnabled(states.progressiveEnabled);
  exifCopy_->setEnabled(states.exifCopyEnabled);
  comment_->setEnabled(states.commentEnabled);
  commentEdit_->setEnabled(states.commentEnabled);
  levels_->setEnabled(states.adjustmentsEnabled);
  for (const Adjustment& a : adjustments_) a.check->setEnabled(states.adjustmentsEnabled);
}

void OutputPage::showSettings() {
  const ConversionSettings& s = conversion();
  fillList(outputFormat_, outputFormatTexts(), s.OFmt);
  setChecked(lossless_, s.JTrans);
  for (const auto& [box, flag] : flags_) setChecked(box, s.*flag);
  for (const Adjustment& a : adjustments_) {
    setChecked(a.check, s.*(a.on));
    a.field->setValue(s.*(a.level));
    const QSignalBlocker blocker(a.slider);
    a.slider->setValue(s.*(a.level));
  }
  updateOutputFormatControls();
}

void OutputPage::giveValues(PageValues& values) const {
  values.GamVal = adjustments_[0].field->value();
  values.CrtVal = adjustments_[1].field->value();
  values.HlsSVal = adjustments_[2].field->value();
  values.HlsHVal = adjustments_[3].field->value();
}

void OutputPage::showCorrections(const PageCorrections& corrections) {
  const bool off[] = {corrections.gammaSwitchedOff, corrections.contrastSwitchedOff,
                      corrections.saturationSwitchedOff, corrections.hueSwitchedOff};
  for (size_t i = 0; i < adjustments_.size(); ++i)
    if (off[i]) setChecked(adjustments_[i].check, false);
}

void OutputPage::relabel() {
  captions_.apply(host().language());
  fillDepthList();
}

void OutputPage::editComment() {
  QString text = conversion().CmtStr1;
  if (editCommentText(this, host().language(), text)) conversion().CmtStr1 = text;
}

}  // namespace velorin::ui
