// The main window: the folder-tree panel on the left; on the right the two path fields, the five
// settings tabs, the progress bar and the six command buttons, at the fixed positions of a
// 768 x 538 client area. It owns the settings, the language and the file list, runs the
// window's jobs and takes dropped files.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <functional>

#include "engine/archive_members.h"
#include "engine/file_list.h"
#include "engine/job.h"
#include "engine/language.h"
#include "settings/settings_store.h"
#include "ui/settings_page.h"
#include "ui/window_job.h"

class QAction;
class QDialog;
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
  QString languageFolder;  // where the language files are (the program's folder)
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
  WindowJob& job() { return job_; }
  bool jobRunning() const { return job_.isRunning(); }

  // Moves the window to the saved position, kept inside the nearest screen's available area.
  void placeOnScreen();
  // Arguments without the program's name. True when they started a conversion: the window then
  // shows minimised and closes when the conversion has ended.
  bool applyCommandLine(const QStringList& arguments);
  // Restores a minimised window and brings it to the front (a second start asked for it).
  void bringToFront();
  // Tells that the settings file could not be used (text 30011 and detail) in a box that does
  // not block: the window is usable behind it.
  void showSettingsTrouble(const QString& detail);

  // The drop table: target is the widget under the drop point.
  void dropPaths(QWidget* target, const QStringList& paths);
  // Runs the checked entries of the file list (the convert button), or the given files.
  void startListJob();
  void startPathJob(const QStringList& paths);

  bool isTopmost() const;
  void toggleTopmost();

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

  // Conversions at once; 0 is one per processor.
  int jobThreads = 0;
  // How messages reach the user; tests answer them instead.
  std::function<bool(const JobMessage&)> presentMessage;
  // How the window's dialogs are run; true for OK. Tests inspect and answer them instead.
  std::function<bool(QDialog&)> presentDialog;
  // Where the trial window must stay; empty for the available area of the window's screen.
  QRect trialWorkArea;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildMainPanel();
  void layoutPathRows();
  void relabel();
  void applyInterfaceFont();

  ListOptions listOptions() const;
  ArchiveAccess archiveAccess() const;
  JobOptions jobOptions() const;
  // The number and text fields of the pages into the settings, with the corrections shown.
  void takePageValues();
  void showError(int id);
  bool showMessage(const JobMessage& message);

  void setInput(const QString& path);
  void setOutput(const QString& path);
  void notifyFileListChanged();

  void startJob(std::function<JobResult(JobContext&)> run);
  void setJobRunning(bool running);
  void jobFinished(const JobResult& result);

  void trialConversion();  // 1021
  void namePreview();      // 1022
  void convertOrCancel();  // 1023
  void openHelp();         // 1024
  void showAbout();        // 1026

  // Reset switch-off, page values, path fields and histories, position; then the file, replaced
  // in one step. Runs once.
  bool shutDown();

  StoredSettings settings_;
  QString settingsPath_;
  QString languageFolder_;
  LanguageModule language_;
  FileList fileList_;
  QFont font_;
  WindowJob job_;
  bool shutDownDone_ = false;
  bool closeAfterJob_ = false;

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
  QPushButton* convertButton_ = nullptr;
  QAction* topmostAction_ = nullptr;
};

}  // namespace velorin::ui
