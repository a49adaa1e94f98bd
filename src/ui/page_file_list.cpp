#include "ui/page_file_list.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include "engine/file_list.h"
#include "engine/language.h"
#include "settings/page_rules.h"
#include "sources/plugin_host.h"
#include "ui/display_image.h"
#include "ui/file_list_model.h"
#include "ui/preview_pane.h"

namespace velorin::ui {

namespace {

using CS = ConversionSettings;
constexpr std::array<bool CS::*, 4> kSelExt{&CS::SelExt0, &CS::SelExt1, &CS::SelExt2, &CS::SelExt3};
constexpr std::array<QString CS::*, 4> kExtStr{&CS::ExtStr0, &CS::ExtStr1, &CS::ExtStr2, &CS::ExtStr3};
constexpr int kHeaderTexts = 1205;  // name, size, time
constexpr int kCannotOpen = 30007;
constexpr int kErrorCaption = 30000;

}  // namespace

FileListPage::FileListPage(PageHost& pageHost, QWidget* parent) : SettingsPage(pageHost, 20012, parent) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setSpacing(4);

  QLabel* formatLabel = makeLabel(captions_, this, 1220);
  inputFormat_ = makeList(captions_, this, 1221);
  formatLabel->setBuddy(inputFormat_);
  auto* top = new QHBoxLayout;
  top->addWidget(formatLabel);
  top->addWidget(inputFormat_);
  top->addStretch(1);
  grid->addLayout(top, 0, 0, 1, 2);

  view_ = new QTreeView(this);
  captions_.add(view_, 1201);
  model_ = new FileListModel(pageHost.fileList(), this);
  view_->setModel(model_);
  view_->setRootIsDecorated(false);
  view_->setUniformRowHeights(true);
  view_->setAllColumnsShowFocus(true);
  view_->header()->setStretchLastSection(false);
  view_->header()->setSectionResizeMode(FileListModel::NameColumn, QHeaderView::Stretch);
  view_->header()->setSectionResizeMode(FileListModel::SizeColumn, QHeaderView::ResizeToContents);
  view_->header()->setSectionResizeMode(FileListModel::TimeColumn, QHeaderView::ResizeToContents);
  grid->addWidget(view_, 1, 0);

  auto* previewColumn = new QVBoxLayout;
  pane_ = new PreviewPane(this);
  captions_.add(pane_, 1260);
  pane_->setFixedSize(160, 120);
  previewName_ = makeLabel(captions_, this, 1261);
  previewSize_ = makeLabel(captions_, this, 1262);
  for (QLabel* label : {previewName_, previewSize_}) {
    label->setFixedWidth(160);
    label->setText(QString());
  }
  previewColumn->addWidget(pane_);
  previewColumn->addWidget(previewName_);
  previewColumn->addWidget(previewSize_);
  previewColumn->addStretch(1);
  grid->addLayout(previewColumn, 1, 1);

  auto* buttons = new QHBoxLayout;
  QPushButton* all = makeButton(captions_, this, 1202);
  QPushButton* none = makeButton(captions_, this, 1203);
  buttons->addWidget(all);
  buttons->addWidget(none);
  buttons->addStretch(1);
  buttons->addWidget(makeLabel(captions_, this, 1230));
  count_ = makeLabel(captions_, this, 1231);
  buttons->addWidget(count_);
  grid->addLayout(buttons, 2, 0, 1, 2);

  QGroupBox* filters = makeGroup(captions_, this, 1239);
  auto* filterRow = new QHBoxLayout(filters);
  for (int i = 0; i < 4; ++i) {
    filterOn_[i] = makeCheck(captions_, filters, 1240 + i);
    filterText_[i] = makeField(captions_, filters, 1250 + i);
    filterText_[i]->setMaxLength(16);
    filterRow->addWidget(filterOn_[i]);
    filterRow->addWidget(filterText_[i], 1);
    connect(filterOn_[i], &QCheckBox::toggled, this, [this, i](bool on) {
      conversion().*kSelExt[i] = on;
      host().rebuildFileList();
    });
    // Applied when the field is left, so the list is not rebuilt at every key.
    connect(filterText_[i], &QLineEdit::editingFinished, this, [this, i] {
      QString& stored = conversion().*kExtStr[i];
      if (stored == filterText_[i]->text()) return;
      stored = filterText_[i]->text();
      host().rebuildFileList();
    });
  }
  grid->addWidget(filters, 3, 0, 1, 2);
  grid->setColumnStretch(0, 1);
  grid->setRowStretch(1, 1);

  connect(inputFormat_, &QComboBox::currentIndexChanged, this, [this](int index) {
    chooseInputFormat(conversion(), index);
    host().settingsChanged();
    host().rebuildFileList();
  });
  connect(all, &QPushButton::clicked, this, [this] { model_->selectAll(true); });
  connect(none, &QPushButton::clicked, this, [this] { model_->selectAll(false); });
  connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) showPreview(current.row());
          });
  connect(pane_, &PreviewPane::openRequested, this, &FileListPage::openPreviewed);
}

FileListPage::~FileListPage() = default;

void FileListPage::showSettings() {
  fillList(inputFormat_, inputFormatTexts(host().language()), conversion().IFmt);
  for (int i = 0; i < 4; ++i) {
    setChecked(filterOn_[i], conversion().*kSelExt[i]);
    filterText_[i]->setText(conversion().*kExtStr[i]);
  }
  updateFilterControls();
}

void FileListPage::updateFilterControls() {
  const bool enabled = pageControlStates(conversion(), false).extensionFiltersEnabled;
  for (int i = 0; i < 4; ++i) {
    filterOn_[i]->setEnabled(enabled);
    filterText_[i]->setEnabled(enabled);
  }
}

void FileListPage::updateCount() { count_->setText(QString::number(host().fileList().entries().size())); }

void FileListPage::relabel() {
  captions_.apply(host().language());
  model_->setHeaderTexts(textsOf(host().language(), kHeaderTexts, FileListModel::ColumnCount));
  fillList(inputFormat_, inputFormatTexts(host().language()), conversion().IFmt);
  previewName_->setText(preview_.name);
  previewSize_->setText(preview_.sizeText);
  updateCount();
}

void FileListPage::fileListChanged() {
  clearPreview();
  model_->reload();
  updateCount();
}

void FileListPage::showPreview(int row) {
  const ApplicationSettings& application = host().settings().application;
  const PreviewAccess access{pluginFolderInUse(application.SPI), application.pluginFiles, application.FileBg};
  loadPreview(host().fileList(), row, conversion(), access, preview_);
  const FileList& list = host().fileList();
  const QString path = list.kind() == SourceKind::Folder ? QDir(list.inputPath()).filePath(preview_.name) : QString();
  pane_->showImage(toQImage(preview_.image), path);
  previewName_->setText(preview_.name);
  previewSize_->setText(preview_.sizeText);
}

void FileListPage::clearPreview() {
  preview_.clear();
  pane_->clear();
  previewName_->clear();
  previewSize_->clear();
}

void FileListPage::openPreviewed(const QString& path) {
  if (!path.isEmpty() && QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
  const LanguageModule& language = host().language();
  QMessageBox::warning(this, language.text(kErrorCaption), language.text(kCannotOpen));
}

}  // namespace velorin::ui
