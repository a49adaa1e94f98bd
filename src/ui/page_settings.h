// The conversion settings: formats, JPEG and PNG options, resize, rotation,
// sharpening, naming, output folder, deletion of the sources and presets.
#pragma once

#include "ui/page_controls.h"
#include "ui/settings_page.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace velorin::ui {

class NumberField;

class SettingsTabPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit SettingsTabPage(PageHost& host, QWidget* parent = nullptr);

  void showSettings() override;
  void giveValues(PageValues& values) const override;
  void showCorrections(const PageCorrections& corrections) override;
  void relabel() override;
  void fileListChanged() override;

 private:
  QWidget* buildFormats();
  QWidget* buildFormatOptions();
  QWidget* buildProcessing();
  QWidget* buildNaming();
  QWidget* buildSourcesAndPresets();
  void fillLists();
  // Shows, hides and enables the controls that depend on the settings.
  void updateOutputFormatControls();
  void updateSummary();
  ConversionSettings& conversion() const { return host().settings().conversion; }
  // A list or check box changed a setting: every page shows it, this one included.
  void changed();
  void storeNumber(NumberField* field, int32_t ConversionSettings::*setting);

  Captions captions_;
  QComboBox* inputFormat_ = nullptr;   // 1102
  QComboBox* outputFormat_ = nullptr;  // 1104
  QCheckBox* lossless_ = nullptr;      // 1105
  QLabel* noOptions_ = nullptr;        // 1111
  QWidget* pngControls_ = nullptr;     // 1112..1115
  NumberField* level_ = nullptr;       // 1113, 1114
  QWidget* jpegControls_ = nullptr;    // 1120..1128
  NumberField* quality_ = nullptr;     // 1121
  QComboBox* sampling_ = nullptr;      // 1124
  QCheckBox* limit_ = nullptr;         // 1125
  NumberField* limitValue_ = nullptr;  // 1126, 1127
  QLabel* limitUnit_ = nullptr;        // 1128
  QWidget* markerControls_ = nullptr;  // 1129, 1130
  QComboBox* marker_ = nullptr;        // 1130
  QLabel* resizeLabel_ = nullptr;      // 1141
  QComboBox* resize_ = nullptr;        // 1142
  QList<QWidget*> resizeSize_;         // 1143..1146
  QLineEdit* resizeSizeField_ = nullptr;  // 1144
  QLabel* sharpenLabel_ = nullptr;     // 1147
  QComboBox* sharpen_ = nullptr;       // 1148
  QComboBox* rotate_ = nullptr;        // 1150
  QComboBox* naming_ = nullptr;        // 1162
  QList<QWidget*> serial_;             // 1163..1165, 1170..1172
  NumberField* digits_ = nullptr;      // 1164, 1165
  NumberField* startNumber_ = nullptr; // 1171, 1172
  QCheckBox* prefixOn_ = nullptr;      // 1173
  QLineEdit* prefix_ = nullptr;        // 1174
  QCheckBox* suffixOn_ = nullptr;      // 1175
  QLineEdit* suffix_ = nullptr;        // 1176
  QCheckBox* subFolderOn_ = nullptr;   // 1177
  QLineEdit* subFolder_ = nullptr;     // 1178
  QCheckBox* deleteSources_ = nullptr; // 1180
  QCheckBox* recycle_ = nullptr;       // 1181
  QComboBox* presets_ = nullptr;       // 1183
  QLabel* summary_ = nullptr;          // 1191
  QPushButton* reset_ = nullptr;       // 1192
};

}  // namespace velorin::ui
