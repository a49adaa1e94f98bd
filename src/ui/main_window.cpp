#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>

#include "engine/archive_members.h"
#include "engine/job_setup.h"
#include "ui/controls.h"
#include "ui/folder_tree.h"
#include "ui/page_file_list.h"
#include "ui/page_options.h"
#include "ui/page_output.h"
#include "ui/page_plugins.h"
#include "ui/page_settings.h"
#include "ui/path_field.h"
#include "ui/preset_dialog.h"

namespace velorin::ui {

namespace {

constexpr int kTreeWidth = 180;
constexpr int kPanelWidth = 588;
constexpr int kFieldRight = 580;
constexpr QColor kInputBackground{216, 240, 255};
constexpr QColor kOutputBackground{255, 232, 240};

struct ButtonPlace {
  int id;
  int x;
  int width;
};
constexpr std::array<ButtonPlace, 6> kButtons{{{1021, 10, 99},
                                               {1022, 117, 105},
                                               {1023, 230, 170},
                                               {1025, 408, 68},
                                               {1024, 482, 48},
                                               {1026, 538, 40}}};

}  // namespace

MainWindow::MainWindow(WindowStart start, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      settings_(std::move(start.settings)),
      settingsPath_(std::move(start.settingsPath)),
      languageFolder_(std::move(start.languageFolder)),
      language_(std::move(start.language)) {
  setObjectName(QStringLiteral("Velorin_main_class"));
  setWindowTitle(QStringLiteral("Velorin"));
  setFixedSize(kClientWidth, kClientHeight);
  applyInterfaceFont();

  treePanel_ = new QWidget(this);
  nameControl(treePanel_, 1000);
  treePanel_->setGeometry(0, 0, kTreeWidth, kClientHeight);
  tree_ = new FolderTree(*this, treePanel_);
  tree_->setGeometry(0, 0, kTreeWidth, kClientHeight);
  connect(tree_, &FolderTree::folderChosen, this, &MainWindow::setInput);

  buildMainPanel();
  relabel();
  for (SettingsPage* page : pages_) page->showSettings();
  tree_->showSettings();
}

// The pages show the settings and the file list, which are members: they go first.
MainWindow::~MainWindow() { delete mainPanel_; }

void MainWindow::applyInterfaceFont() {
  font_ = QFont(language_.text(20000));
  font_.setPixelSize(-settings_.application.FHeight);
  font_.setWeight(settings_.application.FWeight >= 700 ? QFont::Bold : QFont::Normal);
  setFont(font_);
}

void MainWindow::buildMainPanel() {
  mainPanel_ = new QWidget(this);
  nameControl(mainPanel_, 1010);
  mainPanel_->setGeometry(kTreeWidth, 0, kPanelWidth, kClientHeight);

  inputLabel_ = new QLabel(mainPanel_);
  outputLabel_ = new QLabel(mainPanel_);
  inputField_ = new PathField(1013, kInputBackground, mainPanel_);
  outputField_ = new PathField(1014, kOutputBackground, mainPanel_);
  outputField_->setFoldersOnly(true);
  inputLabel_->setBuddy(inputField_);
  outputLabel_->setBuddy(outputField_);
  inputField_->setHistory(settings_.application.inputHistory);
  outputField_->setHistory(settings_.application.outputHistory);
  connect(inputField_, &PathField::pathEntered, this, &MainWindow::setInput);
  connect(outputField_, &PathField::pathEntered, this, &MainWindow::setOutput);

  tabs_ = new QTabWidget(mainPanel_);
  nameControl(tabs_, 1030);
  tabs_->setGeometry(5, 56, 580, 429);
  tabs_->setUsesScrollButtons(false);
  tabs_->tabBar()->setExpanding(true);
  pages_ = {new SettingsTabPage(*this), new FileListPage(*this), new OutputPage(*this), new OptionsPage(*this),
            new PluginsPage(*this)};
  for (int i = 0; i < kPageCount; ++i) {
    pages_[i]->setObjectName(QStringLiteral("page%1").arg(i));
    tabs_->addTab(pages_[i], QString());
  }

  progress_ = new QProgressBar(mainPanel_);
  nameControl(progress_, 1020);
  progress_->setGeometry(10, 488, 568, 10);
  progress_->setTextVisible(false);
  progress_->setRange(0, 1);
  progress_->setValue(0);

  for (size_t i = 0; i < kButtons.size(); ++i) {
    buttons_[i] = new QPushButton(mainPanel_);
    buttons_[i]->setGeometry(kButtons[i].x, 505, kButtons[i].width, 24);
  }
  connect(buttons_[0], &QPushButton::clicked, this, &MainWindow::trialConversion);
  connect(buttons_[1], &QPushButton::clicked, this, &MainWindow::namePreview);
  connect(buttons_[2], &QPushButton::clicked, this, &MainWindow::convert);
  connect(buttons_[3], &QPushButton::clicked, this, &QWidget::close);
  connect(buttons_[4], &QPushButton::clicked, this, &MainWindow::openHelp);
  connect(buttons_[5], &QPushButton::clicked, this, &MainWindow::showAbout);
}

// The labels are as wide as the wider text plus 1 (at most 100); the fields start 3 pixels to
// their right and end at x 580; a row is as high as a line plus 7.
void MainWindow::layoutPathRows() {
  const QFontMetrics metrics(font_);
  const int labelWidth =
      std::min(100, std::max(metrics.horizontalAdvance(inputLabel_->text()),
                             metrics.horizontalAdvance(outputLabel_->text())) + 1);
  const int rowHeight = metrics.height() + 7;
  inputLabel_->setGeometry(8, 4, labelWidth, rowHeight);
  outputLabel_->setGeometry(8, 29, labelWidth, rowHeight);
  const int fieldX = 8 + labelWidth + 3;
  inputField_->setGeometry(fieldX, 4, kFieldRight - fieldX, rowHeight);
  outputField_->setGeometry(fieldX, 29, kFieldRight - fieldX, rowHeight);
}

void MainWindow::relabel() {
  setCaption(inputLabel_, language_, 1011);
  setCaption(outputLabel_, language_, 1012);
  inputField_->setAccessibleName(inputLabel_->accessibleName());
  outputField_->setAccessibleName(outputLabel_->accessibleName());
  for (size_t i = 0; i < kButtons.size(); ++i) setCaption(buttons_[i], language_, kButtons[i].id);
  for (int i = 0; i < kPageCount; ++i) tabs_->setTabText(i, language_.text(pages_[i]->titleId()));
  layoutPathRows();
  for (SettingsPage* page : pages_) page->relabel();
  tree_->relabel();
}

void MainWindow::setInput(const QString& path) { inputField_->setPath(path); }
void MainWindow::setOutput(const QString& path) { outputField_->setPath(path); }

ListOptions MainWindow::currentListOptions() {
  const JobOptions options = jobOptionsFrom(settings_.application);
  ArchiveAccess access = archiveAccessFor(options);
  access.disabledPlugins = settings_.application.pluginFiles;
  fileList_.setMemberLister(memberListerFor(access));
  return listOptionsFor(settings_.conversion, options, access);
}

void MainWindow::rebuildFileList() {
  if (!fileList_.inputPath().isEmpty()) fileList_.buildFileList(currentListOptions());
  for (SettingsPage* page : pages_) page->fileListChanged();
}

void MainWindow::settingsChanged() {
  for (SettingsPage* page : pages_) page->showSettings();
}

void MainWindow::switchLanguage(const QString& name) {
  if (name.compare(settings_.application.LangFile, Qt::CaseInsensitive) == 0) return;
  LanguageModule module;
  QString langFile = name;
  if (!loadLanguageModule(module, langFile, languageFolder_, userInterfaceLanguageId())) return;
  language_ = std::move(module);
  settings_.application.LangFile = langFile;
  applyInterfaceFont();
  relabel();
  settingsChanged();
}

void MainWindow::interfaceFontChanged() {
  applyInterfaceFont();
  relabel();
}

void MainWindow::takePageValues() {
  PageValues values = pageValuesOf(settings_.conversion);
  for (SettingsPage* page : pages_) page->giveValues(values);
  const PageCorrections corrections = takeValuesFromPages(settings_.conversion, values);
  if (corrections.any())
    for (SettingsPage* page : pages_) page->showCorrections(corrections);
}

void MainWindow::presetChosen(int entry) {
  if (entry >= 1 && entry <= kPresetCount) {
    PresetLocations locations;
    if (!applyPreset(settings_.presets, entry - 1, settings_.conversion, &locations)) return;
    if (!locations.outputFolder.isEmpty()) setOutput(locations.outputFolder);
    settingsChanged();
    if (!locations.inputPath.isEmpty()) {
      setInput(locations.inputPath);
      fileList_.setInputPath(locations.inputPath, currentListOptions());
    }
    rebuildFileList();
  } else if (entry == kPresetCount + 1) {
    PresetChoice choice;
    if (!choosePresetToSave(this, language_, settings_.presets, choice)) return;
    takePageValues();
    savePreset(settings_.presets, choice.number, choice.name, inputField_->path(), outputField_->path(),
               settings_.conversion);
    settingsChanged();
  }
  activateWindow();
}

void MainWindow::trialConversion() {}
void MainWindow::namePreview() {}
void MainWindow::convert() {}
void MainWindow::openHelp() {}
void MainWindow::showAbout() {}

bool MainWindow::shutDown() {
  if (shutDownDone_) return true;
  shutDownDone_ = true;
  tree_->stop();
  ConversionSettings& conversion = settings_.conversion;
  if (settings_.application.Reset) applyResetSwitchOff(conversion);
  takePageValues();
  tree_->giveValues();
  ApplicationSettings& application = settings_.application;
  application.IEPath = inputField_->path();
  application.OEPath = outputField_->path();
  application.inputHistory = inputField_->history();
  application.outputHistory = outputField_->history();
  const QPoint position = pos();
  application.WinX = position.x();
  application.WinY = position.y();
  return saveSettingsFile(settingsPath_, settings_);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  shutDown();
  event->accept();
}

}  // namespace velorin::ui
