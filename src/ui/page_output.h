// The output options: format, colour depth, transparency, interlace, progressive,
// EXIF copy, comment, tone and colour adjustments, HTML tags and time stamps.
#pragma once

#include <array>
#include <vector>

#include "ui/page_controls.h"
#include "ui/settings_page.h"

class QCheckBox;
class QPushButton;
class QGridLayout;
class QSlider;

namespace velorin::ui {

class NumberField;

class OutputPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit OutputPage(PageHost& host, QWidget* parent = nullptr);

  void showSettings() override;
  void giveValues(PageValues& values) const override;
  void showCorrections(const PageCorrections& corrections) override;
  void relabel() override;

 private:
  // One tone or colour adjustment: check box, number field with arrows, slider.
  struct Adjustment {
    QCheckBox* check = nullptr;
    NumberField* field = nullptr;
    QSlider* slider = nullptr;
    bool ConversionSettings::*on = nullptr;
    int32_t ConversionSettings::*level = nullptr;
  };
  QWidget* buildFormat();
  QWidget* buildOptions();
  QWidget* buildAdjustments();
  QWidget* buildAfterConversion();
  void addAdjustment(QGridLayout* grid, int row, int id, int minimum, int maximum,
                     bool ConversionSettings::*on, int32_t ConversionSettings::*level, Adjustment& a);
  QCheckBox* addFlag(QWidget* parent, int id, bool ConversionSettings::*flag);
  void fillDepthList();
  void updateOutputFormatControls();
  void editComment();
  ConversionSettings& conversion() const { return host().settings().conversion; }

  Captions captions_;
  QComboBox* outputFormat_ = nullptr;  // 1301
  QCheckBox* lossless_ = nullptr;      // 1302
  QComboBox* depth_ = nullptr;         // 1312
  std::vector<int> depthValues_;
  std::vector<std::pair<QCheckBox*, bool ConversionSettings::*>> flags_;
  QCheckBox* transparency_ = nullptr;  // 1314
  QCheckBox* interlace_ = nullptr;     // 1315
  QCheckBox* progressive_ = nullptr;   // 1316
  QCheckBox* exifCopy_ = nullptr;      // 1317
  QCheckBox* comment_ = nullptr;       // 1318
  QPushButton* commentEdit_ = nullptr; // 1319
  QCheckBox* levels_ = nullptr;        // 1331
  std::array<Adjustment, 4> adjustments_;  // gamma, contrast, saturation, hue
};

}  // namespace velorin::ui
