#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>
#include <QWindow>

#include <thread>

#include "engine/input_paths.h"
#include "engine/job_setup.h"
#include "platform/paths.h"
#include "ui/about_dialog.h"
#include "ui/controls.h"
#include "ui/folder_tree.h"
#include "ui/help.h"
#include "ui/page_file_list.h"
#include "ui/page_options.h"
#include "ui/page_output.h"
#include "ui/page_plugins.h"
#include "ui/page_settings.h"
#include "ui/name_preview_dialog.h"
#include "ui/password_dialog.h"
#include "ui/path_field.h"
#include "ui/preset_dialog.h"
#include "ui/screen_placement.h"
#include "ui/trial_dialog.h"

namespace velorin::ui {

namespace {

constexpr int kTreeWidth = 180;
constexpr int kPanelWidth = 588;
constexpr int kFieldRight = 580;
constexpr QColor kInputBackground{216, 240, 255};
constexpr QColor kOutputBackground{255, 232, 240};
constexpr int kTopmostTextId = 5100;
constexpr int kOpenFailedTextId = 30007;

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

// Five tabs of equal width across the tab control.
class EqualTabBar : public QTabBar {
 public:
  using QTabBar::QTabBar;

 protected:
  QSize tabSizeHint(int index) const override {
    const QSize natural = QTabBar::tabSizeHint(index);
    const QWidget* control = parentWidget();
    if (count() == 0 || control == nullptr) return natural;
    return {(control->width() - 2) / count(), natural.height()};
  }
};

class EqualTabs : public QTabWidget {
 public:
  explicit EqualTabs(QWidget* parent) : QTabWidget(parent) { setTabBar(new EqualTabBar(this)); }
};

bool isInside(const QWidget* widget, const QWidget* container) {
  return widget != nullptr && container != nullptr && (widget == container || container->isAncestorOf(widget));
}

// The local paths of a drop, in drop order.
QStringList localPaths(const QMimeData* data) {
  QStringList paths;
  if (data == nullptr) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  return paths;
}

// The files a path job converts, the same as the headless mode's: files as they are, the image
// files of folders in list order.
QStringList pathJobFiles(const QStringList& paths, const ListOptions& options, const ArchiveAccess& access) {
  QStringList files;
  for (const ClassifiedInput& input : classifyInputs(paths, access)) {
    if (input.kind == InputKind::Folder) files << imageFilesOfFolder(input.path, options);
    else if (input.kind != InputKind::Missing) files << input.path;
  }
  return files;
}

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
  setAcceptDrops(true);
  applyInterfaceFont();

  treePanel_ = new QWidget(this);
  nameControl(treePanel_, 1000);
  treePanel_->setGeometry(0, 0, kTreeWidth, kClientHeight);
  tree_ = new FolderTree(*this, treePanel_);
  tree_->setGeometry(0, 0, kTreeWidth, kClientHeight);
  connect(tree_, &FolderTree::inputChosen, this, &MainWindow::setInput);
  connect(tree_, &FolderTree::outputChosen, this, &MainWindow::setOutput);
  connect(tree_, &FolderTree::errorMessage, this, &MainWindow::showError);

  buildMainPanel();

  topmostAction_ = new QAction(this);
  topmostAction_->setObjectName(controlName(kTopmostTextId));
  topmostAction_->setCheckable(true);
  topmostAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
  topmostAction_->setShortcutContext(Qt::WindowShortcut);
  addAction(topmostAction_);
  connect(topmostAction_, &QAction::triggered, this, &MainWindow::toggleTopmost);
  mainPanel_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(mainPanel_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu menu(this);
    menu.addAction(topmostAction_);
    menu.exec(mainPanel_->mapToGlobal(at));
  });
  mainPanel_->installEventFilter(this);
  qApp->installEventFilter(this);  // tooltips follow TipAct

  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, [this] {
    if (job_.isRunning()) job_.host().requestCancel();
  });

  WindowJobHost& host = job_.host();
  host.presentMessage = [this](const JobMessage& message) { return showMessage(message); };
  host.presentPasswordPrompt = [this](QString& password) {
    return askArchivePassword(this, language_, password, settings_.application.FHeight);
  };
  connect(&host, &WindowJobHost::progressRangeChanged, this, [this](qsizetype maximum) {
    progress_->setRange(0, static_cast<int>(std::max<qsizetype>(1, maximum)));
  });
  connect(&host, &WindowJobHost::progressChanged, this,
          [this](qsizetype position) { progress_->setValue(static_cast<int>(position)); });
  connect(&host, &WindowJobHost::titleChanged, this, &QWidget::setWindowTitle);
  connect(&host, &WindowJobHost::commandsEnabledChanged, this,
          [this](bool, const QString& text) { convertButton_->setText(text); });
  connect(&job_, &WindowJob::finished, this, &MainWindow::jobFinished);
  connect(&host, &WindowJobHost::previewCleared, this,
          [this] { static_cast<FileListPage*>(pages_[1])->clearPreview(); });
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { shutDown(); });

  ArchiveAccess listing = archiveAccess();
  // Listing runs on this thread, so the dialog can be asked directly.
  listing.askPassword = [this](QString& password) {
    return askArchivePassword(this, language_, password, settings_.application.FHeight);
  };
  fileList_.setMemberLister(memberListerFor(listing));
  relabel();

  const ApplicationSettings& application = settings_.application;
  const QString input = application.IIFolder == 1 ? application.IEPath
                        : application.IIFolder == 2 ? application.ISPath
                                                    : QString();
  const QString output = application.OIFolder == 1 ? application.OEPath
                         : application.OIFolder == 2 ? application.OSPath
                                                     : QString();
  if (!input.isEmpty() && fileList_.setInputPath(input, listOptions())) inputField_->setPath(input);
  if (!output.isEmpty()) outputField_->setPath(output);
  for (SettingsPage* page : pages_) page->showSettings();
  tree_->showSettings();
  notifyFileListChanged();
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  // The pages show the settings and the file list, which are members: they go first.
  delete mainPanel_;
}

void MainWindow::applyInterfaceFont() {
  font_ = QFont(language_.text(20000));
  font_.setPixelSize(std::abs(settings_.application.FHeight));
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

  tabs_ = new EqualTabs(mainPanel_);
  nameControl(tabs_, 1030);
  tabs_->setGeometry(5, 56, 580, 429);
  tabs_->setUsesScrollButtons(false);
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
  convertButton_ = buttons_[2];
  connect(buttons_[0], &QPushButton::clicked, this, &MainWindow::trialConversion);
  connect(buttons_[1], &QPushButton::clicked, this, &MainWindow::namePreview);
  connect(buttons_[2], &QPushButton::clicked, this, &MainWindow::convertOrCancel);
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
  setTip(inputField_, language_, 11013);
  setTip(outputField_, language_, 11014);
  setTip(tree_, language_, 11001);
  for (size_t i = 0; i < kButtons.size(); ++i) {
    setCaption(buttons_[i], language_, kButtons[i].id);
    setTip(buttons_[i], language_, kButtons[i].id + 10000);
  }
  if (job_.isRunning()) convertButton_->setText(language_.text(text_id::kJobCancelButton));
  for (int i = 0; i < kPageCount; ++i) tabs_->setTabText(i, language_.text(pages_[i]->titleId()));
  topmostAction_->setText(language_.text(kTopmostTextId));
  layoutPathRows();
  for (SettingsPage* page : pages_) page->relabel();
  tree_->relabel();
}

ArchiveAccess MainWindow::archiveAccess() const { return archiveAccessFor(jobOptions()); }

ListOptions MainWindow::listOptions() const {
  return listOptionsFor(settings_.conversion, jobOptions(), archiveAccess());
}

JobOptions MainWindow::jobOptions() const {
  JobOptions options = jobOptionsFrom(settings_.application);
  // One converter per processor, as the headless mode's default; the outputs stay the same.
  options.jobs = jobThreads > 0 ? jobThreads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return options;
}

bool MainWindow::showMessage(const JobMessage& message) {
  if (presentMessage) return presentMessage(message);
  const QMessageBox::Icon icon = message.icon == MessageIcon::Error      ? QMessageBox::Critical
                                 : message.icon == MessageIcon::Question ? QMessageBox::Question
                                                                         : QMessageBox::Information;
  const bool yesNo = message.buttons == MessageButtons::YesNo;
  QMessageBox box(icon, message.caption, message.text, yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                  this);
  box.setObjectName(QStringLiteral("message%1").arg(message.id));
  const int answer = box.exec();
  return yesNo ? answer == QMessageBox::Yes : true;
}

void MainWindow::showError(int id) {
  showMessage({id, language_.text(text_id::kErrorCaption), language_.text(id), MessageIcon::Error, MessageButtons::Ok});
}

void MainWindow::showSettingsTrouble(const QString& detail) {
  auto* box = new QMessageBox(QMessageBox::Warning, language_.text(text_id::kErrorCaption),
                              language_.text(text_id::kSettingsTrouble) + QStringLiteral("\n\n") + detail,
                              QMessageBox::Ok, this);
  box->setObjectName(QStringLiteral("message%1").arg(text_id::kSettingsTrouble));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
}

void MainWindow::takePageValues() {
  PageValues values = pageValuesOf(settings_.conversion);
  for (SettingsPage* page : pages_) page->giveValues(values);
  const PageCorrections corrections = takeValuesFromPages(settings_.conversion, values);
  if (corrections.any())
    for (SettingsPage* page : pages_) page->showCorrections(corrections);
}

void MainWindow::notifyFileListChanged() {
  for (SettingsPage* page : pages_) page->fileListChanged();
}

void MainWindow::setInput(const QString& typed) {
  if (job_.isRunning()) return;
  const QString path = resolveShortcut(typed);
  if (path.isEmpty()) return;
  if (!fileList_.setInputPath(path, listOptions())) {
    showError(text_id::kInputMissing);
    return;
  }
  inputField_->setPath(path);
  inputField_->remember(path);
  tree_->setMarkedPaths(path, outputField_->path());
  notifyFileListChanged();
}

void MainWindow::setOutput(const QString& path) {
  if (job_.isRunning()) return;
  outputField_->setPath(path);
  if (QFileInfo(path).isDir()) outputField_->remember(path);
  tree_->setMarkedPaths(inputField_->path(), path);
}

void MainWindow::rebuildFileList() {
  if (job_.isRunning() || fileList_.inputPath().isEmpty()) return;
  fileList_.buildFileList(listOptions());
  notifyFileListChanged();
}

void MainWindow::settingsChanged() {
  for (SettingsPage* page : pages_) page->showSettings();
}

void MainWindow::switchLanguage(const QString& name) {
  QString& langFile = settings_.application.LangFile;
  if (job_.isRunning() || name.compare(langFile, Qt::CaseInsensitive) == 0) return;
  LanguageModule next;
  QString nextName = name;
  // When neither the choice nor a fall-back loads, the window keeps its current texts.
  if (!loadLanguageModule(next, nextName, languageFolder_, userInterfaceLanguageId())) return;
  language_ = std::move(next);
  langFile = nextName;
  applyInterfaceFont();
  relabel();
  for (SettingsPage* page : pages_) page->showSettings();
}

void MainWindow::interfaceFontChanged() {
  applyInterfaceFont();
  relabel();
}

void MainWindow::presetChosen(int entry) {
  if (job_.isRunning()) return;
  if (entry >= 1 && entry <= kPresetCount) {
    PresetLocations locations;
    if (!applyPreset(settings_.presets, entry - 1, settings_.conversion, &locations)) return;
    if (!locations.outputFolder.isEmpty()) setOutput(locations.outputFolder);
    settingsChanged();
    // A new input builds its list with the preset's filters; otherwise the list is built again.
    if (locations.inputPath.isEmpty() || locations.inputPath == fileList_.inputPath()) rebuildFileList();
    else setInput(locations.inputPath);
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

// --- Jobs -------------------------------------------------------------------------------------

void MainWindow::setJobRunning(bool running) {
  for (QPushButton* button : buttons_)
    if (button != convertButton_) button->setEnabled(!running);
  tabs_->widget(0)->parentWidget()->setEnabled(!running);  // the pages, not the tab bar
  treePanel_->setEnabled(!running);
  inputField_->setEnabled(!running);
  outputField_->setEnabled(!running);
}

void MainWindow::startJob(std::function<JobResult(JobContext&)> run) {
  takePageValues();
  setJobRunning(true);
  // The job works on a copy taken now: the window's settings may change under it no more.
  job_.start([this, run = std::move(run), settings = settings_.conversion, options = jobOptions()](JobHost& host) {
    JobContext context{host, language_, settings, options};
    return run(context);
  });
}

void MainWindow::startListJob() {
  if (job_.isRunning()) return;
  // A change of the folder is noticed here, on the window's thread, so that the list the pages
  // show is never rebuilt under them by the job.
  if (!fileList_.inputPath().isEmpty() && !fileList_.keepInStep()) {
    notifyFileListChanged();
    if (settings_.application.FileMes) showError(text_id::kListChanged);
    return;
  }
  const QString input = inputField_->path();
  const QString output = outputField_->path();
  startJob([this, input, output](JobContext& context) { return runListJob(context, fileList_, input, output); });
}

void MainWindow::startPathJob(const QStringList& paths) {
  if (job_.isRunning()) return;
  const QStringList files = pathJobFiles(paths, listOptions(), archiveAccess());
  if (files.isEmpty()) return;
  QString output = outputField_->path();
  startJob([files, output](JobContext& context) { return runPathJob(context, files, output); });
}

void MainWindow::jobFinished(const JobResult& result) {
  Q_UNUSED(result);
  job_.wait();
  setJobRunning(false);
  convertButton_->setText(language_.text(1023));
  notifyFileListChanged();
  if (closeAfterJob_) close();
}

void MainWindow::convertOrCancel() {
  if (job_.isRunning()) job_.host().requestCancel();
  else startListJob();
}

// --- Commands ---------------------------------------------------------------------------------

void MainWindow::trialConversion() {
  if (job_.isRunning()) return;
  takePageValues();
  const TrialRequest request{fileList_,
                             inputField_->path(),
                             settings_.conversion,
                             jobOptions(),
                             language_,
                             settings_.application.FHeight,
                             static_cast<FileListPage*>(pages_[1])->preview().index,
                             [this](int id) { showError(id); },
                             [this](QString& password) {
                               return askArchivePassword(this, language_, password, settings_.application.FHeight);
                             },
                             presentDialog,
                             trialWorkArea};
  if (runTrialConversion(this, request)) notifyFileListChanged();
}

void MainWindow::namePreview() {
  if (job_.isRunning()) return;
  takePageValues();
  // The job's own checks and naming, run here: it reads names only, so it is quick.
  JobContext context{job_.host(), language_, settings_.conversion, jobOptions()};
  std::vector<PreviewRow> rows;
  const JobResult checked = previewListJob(context, fileList_, inputField_->path(), outputField_->path(), rows);
  notifyFileListChanged();  // the list may have been brought in step
  if (checked.errorId != 0) return;
  NamePreviewDialog dialog(language_, rows, settings_.application.FHeight, this);
  dialog.move(tabs_->mapToGlobal(QPoint(0, 0)));
  if (presentDialog ? presentDialog(dialog) : dialog.exec() == QDialog::Accepted) startListJob();
}

void MainWindow::openHelp() {
  const QString program = programFolder();
  QString page = helpPagePath({helpFolder(program)}, settings_.application.LangFile, tabs_->currentIndex());
  if (page.isEmpty()) page = installedReadme(program);
  if (page.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(page))) showError(kOpenFailedTextId);
}

void MainWindow::showAbout() {
  AboutDialog about(language_, this);
  about.exec();
  raise();
  activateWindow();
}

// --- Window ----------------------------------------------------------------------------------

void MainWindow::placeOnScreen() {
  QList<QRect> areas;
  for (const QScreen* screen : QGuiApplication::screens()) areas << screen->availableGeometry();
  const QSize frame = frameGeometry().size().expandedTo(size());
  move(placeOnScreens(QPoint(settings_.application.WinX, settings_.application.WinY), frame, areas));
}

bool MainWindow::applyCommandLine(const QStringList& arguments) {
  const ApplicationSettings& application = settings_.application;
  const CommandLinePlan plan = handleCommandLine(arguments, application.SdToCvt, application.SdToPath);
  switch (plan.mode) {
    case CommandLinePlan::Mode::None:
      return false;
    case CommandLinePlan::Mode::Open:
      if (!plan.inputPath.isEmpty() && fileList_.setInputPath(plan.inputPath, listOptions())) {
        inputField_->setPath(plan.inputPath);
        inputField_->remember(plan.inputPath);
        if (!plan.selectNames.isEmpty()) fileList_.selectOnly(plan.selectNames);
        notifyFileListChanged();
      }
      if (!plan.outputFolder.isEmpty()) setOutput(plan.outputFolder);
      return false;
    case CommandLinePlan::Mode::Convert:
      setOutput(plan.outputFolder);
      closeAfterJob_ = true;
      startPathJob(plan.convertPaths);
      if (!job_.isRunning()) {
        closeAfterJob_ = false;
        return false;
      }
      return true;
  }
  return false;
}

void MainWindow::bringToFront() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

bool MainWindow::isTopmost() const { return windowFlags().testFlag(Qt::WindowStaysOnTopHint); }

void MainWindow::toggleTopmost() {
  const bool wasVisible = isVisible();
  const QPoint position = pos();
  setWindowFlag(Qt::WindowStaysOnTopHint, !isTopmost());
  move(position);
  if (wasVisible) show();  // changing a window flag hides the window
  topmostAction_->setChecked(isTopmost());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ToolTip && !settings_.application.TipAct) return true;
  if (watched == mainPanel_ && event->type() == QEvent::MouseButtonDblClick) {
    toggleTopmost();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!job_.isRunning() && !localPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (!job_.isRunning() && !localPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QStringList paths = localPaths(event->mimeData());
  event->acceptProposedAction();
  dropPaths(childAt(event->position().toPoint()), paths);
}

void MainWindow::dropPaths(QWidget* target, const QStringList& paths) {
  if (paths.isEmpty() || job_.isRunning()) return;
  const QString first = resolveShortcut(paths.front());
  const ArchiveAccess access = archiveAccess();
  if (isInside(target, inputField_)) {
    setInput(isListSource(inputKindOf(first, access)) ? first : QFileInfo(first).absolutePath());
  } else if (isInside(target, outputField_)) {
    setOutput(QFileInfo(first).isDir() ? first : QFileInfo(first).absolutePath());
  } else if (isInside(target, treePanel_)) {
    tree_->selectPath(first);
  } else if (isInside(target, tabs_)) {
    SettingsPage* page = pages_[tabs_->currentIndex()];
    if (!page->takeDrop(target, first)) {
      QStringList resolved;
      for (const QString& path : paths) resolved << resolveShortcut(path);
      startPathJob(resolved);
    }
  }
}

// --- Shutdown ----------------------------------------------------------------------------------

bool MainWindow::shutDown() {
  if (shutDownDone_) return true;
  shutDownDone_ = true;
  ConversionSettings& conversion = settings_.conversion;
  if (settings_.application.Reset) applyResetSwitchOff(conversion);
  takePageValues();
  tree_->giveValues();
  tree_->stop();
  ApplicationSettings& application = settings_.application;
  application.IEPath = inputField_->path();
  application.OEPath = outputField_->path();
  application.inputHistory = inputField_->history();
  application.outputHistory = outputField_->history();
  // The normal position, also when minimised.
  const QPoint position = isMinimized() ? normalGeometry().topLeft() : pos();
  application.WinX = position.x();
  application.WinY = position.y();
  const bool saved = saveSettingsFile(settingsPath_, settings_);
  if (!saved) qWarning("velorin: the settings could not be saved to %s", qPrintable(settingsPath_));
  return saved;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (job_.isRunning()) {
    event->ignore();
    if (closeAfterJob_) return;  // already on the way out
    const JobMessage question{text_id::kCancelQuestion, QStringLiteral("Velorin"),
                              language_.text(text_id::kCancelQuestion), MessageIcon::Question,
                              MessageButtons::YesNo};
    if (!showMessage(question)) return;
    closeAfterJob_ = true;
    job_.host().requestCancel(true);
    return;
  }
  shutDown();
  event->accept();
}

}  // namespace velorin::ui
