// The program options: messages, start-up folders, the Send To entry, fonts,
// tooltips and the interface language.
#pragma once

#include <array>

#include "ui/page_controls.h"
#include "ui/settings_page.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace velorin::ui {

class OptionsPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit OptionsPage(PageHost& host, QWidget* parent = nullptr);

  void showSettings() override;
  void relabel() override;

 private:
  QWidget* buildMessages();
  QWidget* buildStartFolders(int groupId, int32_t ApplicationSettings::*choice, QString ApplicationSettings::*path,
                             std::array<QRadioButton*, 3>& radios, QLineEdit*& field);
  QWidget* buildCommandLine();
  QWidget* buildFontAndLanguage();
  QCheckBox* addFlag(QWidget* parent, int id, bool ApplicationSettings::*flag);
  QLineEdit* addPathField(QWidget* parent, int id, QString ApplicationSettings::*path);
  void fillLanguages();
  ApplicationSettings& application() const { return host().settings().application; }

  Captions captions_;
  std::vector<std::pair<QCheckBox*, bool ApplicationSettings::*>> flags_;
  std::vector<std::pair<QLineEdit*, QString ApplicationSettings::*>> paths_;
  QCheckBox* hidden_ = nullptr;    // 1406
  std::array<QRadioButton*, 3> inputStart_{};   // 1411..1413
  std::array<QRadioButton*, 3> outputStart_{};  // 1421..1423
  QLineEdit* inputStartPath_ = nullptr;   // 1414
  QLineEdit* outputStartPath_ = nullptr;  // 1424
  QCheckBox* sendTo_ = nullptr;    // 1431
  QComboBox* fontSize_ = nullptr;  // 1442
  QCheckBox* bold_ = nullptr;      // 1445
  QComboBox* language_ = nullptr;  // 1451
};

}  // namespace velorin::ui
