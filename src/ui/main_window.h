// The main window: the folder-tree panel on the left; on the right the two path fields, the five
// settings tabs, the progress bar and the six command buttons, at the fixed positions of a
// 768 x 538 client area.
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

#include <array>

#include "engine/file_list.h"
#include "engine/language.h"
#include "settings/settings_store.h"
#include "ui/settings_page.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace velorin::ui {

class FolderTree;
class PathField;

// What start-up hands the window: the settings read, the language loaded, where both came from.
struct WindowStart {
  StoredSettings settings;
  QString settingsPath;
  QString languageFolder;  // where the language files are
  LanguageModule language;
};

class MainWindow : public QWidget, public PageHost {
  Q_OBJECT
 public:
  explicit MainWindow(WindowStart start, QWidget* parent = nullptr);
  ~MainWindow() override;

  static constexpr int kClientWidth = 768;
  static constexpr int kClientHeight = 538;
  static constexpr int kPageCount = 5;

  SettingsPage* page(int index) const { return pages_[index]; }
  FolderTree* folderTree() const { return tree_; }
  const QString& settingsPath() const { return settingsPath_; }

  // PageHost
  StoredSettings& settings() override { return settings_; }
  const LanguageModule& language() const override { return language_; }
  FileList& fileList() override { return fileList_; }
  void rebuildFileList() override;
  void settingsChanged() override;
  void switchLanguage(const QString& name) override;
  void presetChosen(int entry) override;
  QFont interfaceFont() const override { return font_; }
  void interfaceFontChanged() override;
  QString languageFolder() const override { return languageFolder_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMainPanel();
  void layoutPathRows();
  void relabel();
  void applyInterfaceFont();

  // The pages' number and text fields into the settings, and what that switched off shown.
  void takePageValues();
  ListOptions currentListOptions();

  void setInput(const QString& path);
  void setOutput(const QString& path);

  void trialConversion();  // 1021
  void namePreview();      // 1022
  void convert();          // 1023
  void openHelp();         // 1024
  void showAbout();        // 1026

  // Shutdown: Reset switch-off, page values, path fields and histories, position; then the file.
  bool shutDown();

  StoredSettings settings_;
  QString settingsPath_;
  QString languageFolder_;
  LanguageModule language_;
  FileList fileList_;
  QFont font_;
  bool shutDownDone_ = false;

  QWidget* treePanel_ = nullptr;
  FolderTree* tree_ = nullptr;
  QWidget* mainPanel_ = nullptr;
  QLabel* inputLabel_ = nullptr;
  QLabel* outputLabel_ = nullptr;
  PathField* inputField_ = nullptr;
  PathField* outputField_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  std::array<SettingsPage*, kPageCount> pages_{};
  QProgressBar* progress_ = nullptr;
  std::array<QPushButton*, 6> buttons_{};  // 1021, 1022, 1023, 1025, 1024, 1026
};

}  // namespace velorin::ui
