#include "ui/page_plugins.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

#include "engine/language.h"
#include "settings/page_rules.h"
#include "sources/plugin_host.h"

namespace velorin::ui {

namespace {
constexpr int kHeaderTexts = 1503;  // file, formats
}

PluginsPage::PluginsPage(PageHost& pageHost, QWidget* parent) : SettingsPage(pageHost, 20015, parent) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 6, 6, 6);
  grid->setSpacing(4);
  QLabel* folderLabel = makeLabel(captions_, this, 1500);
  folder_ = makeField(captions_, this, 1501);
  folderLabel->setBuddy(folder_);
  QPushButton* browse = makeButton(captions_, this, 1502);
  grid->addWidget(folderLabel, 0, 0);
  grid->addWidget(folder_, 0, 1);
  grid->addWidget(browse, 0, 2);
  list_ = new QTreeWidget(this);
  captions_.add(list_, 1505);
  list_->setRootIsDecorated(false);
  list_->setColumnCount(2);
  list_->header()->resizeSection(0, 150);
  list_->header()->setStretchLastSection(true);
  grid->addWidget(list_, 1, 0, 1, 3);
  configure_ = makeButton(captions_, this, 1506);
  grid->addWidget(configure_, 2, 2);
  grid->setColumnStretch(1, 1);

  connect(folder_, &QLineEdit::editingFinished, this, [this] { setFolder(folder_->text()); });
  registerDropTarget(folder_, [this](const QString& path) {
    const QFileInfo info(path);
    setFolder(info.isDir() ? path : info.absolutePath());
  });
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString chosen = QFileDialog::getExistingDirectory(this, host().language().text(1502), folder_->text());
    if (!chosen.isEmpty()) setFolder(chosen);
  });
  connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) { pluginToggled(item); });
  connect(configure_, &QPushButton::clicked, this, &PluginsPage::configureCurrent);
}

void PluginsPage::setFolder(const QString& folder) {
  folder_->setText(folder);
  if (application().SPI == folder) return;
  application().SPI = folder;
  fillPluginList();
  // The plug-ins' file types are part of what the list takes.
  host().rebuildFileList();
}

void PluginsPage::fillPluginList() {
  ApplicationSettings& a = application();
  const QSignalBlocker blocker(list_);
  list_->clear();
  // The switched-off names are matched against every plug-in, switched off or not.
  // While SPI is empty the shipped plug-ins are the ones in use, so they are the ones listed.
  const QString folder = pluginFolderInUse(a.SPI);
  const PluginHost all{folder, {}, 0};
  const QStringList names = pluginList(all);
  if (QFileInfo(folder).isDir()) a.pluginFiles = keptDisabledPlugins(a.pluginFiles, names);
  for (const QString& name : names) {
    QString patterns, descriptions;
    pluginDescription(all, name, patterns, descriptions);
    auto* item = new QTreeWidgetItem(list_, {name, descriptions.isEmpty() ? patterns
                                                                          : QStringLiteral("%1 (%2)").arg(descriptions, patterns)});
    const bool disabled = a.pluginFiles.contains(name, Qt::CaseInsensitive);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, disabled ? Qt::Unchecked : Qt::Checked);
    item->setToolTip(1, item->text(1));
  }
  configure_->setEnabled(!names.isEmpty());
}

void PluginsPage::pluginToggled(QTreeWidgetItem* item) {
  QStringList& disabled = application().pluginFiles;
  const QString name = item->text(0);
  disabled.removeIf([&name](const QString& d) { return d.compare(name, Qt::CaseInsensitive) == 0; });
  if (item->checkState(0) != Qt::Checked) disabled.append(name);
  host().rebuildFileList();
}

void PluginsPage::configureCurrent() {
  const QTreeWidgetItem* item = list_->currentItem();
  if (item == nullptr) item = list_->topLevelItem(0);
  if (item == nullptr) return;
  const PluginHost pluginHost{pluginFolderInUse(application().SPI), application().pluginFiles, 0};
  configurePlugin(pluginHost, nullptr, item->text(0));
}

void PluginsPage::showSettings() {
  folder_->setText(application().SPI);
  fillPluginList();
}

void PluginsPage::relabel() {
  captions_.apply(host().language());
  list_->setHeaderLabels({host().language().text(kHeaderTexts), host().language().text(kHeaderTexts + 1)});
}

}  // namespace velorin::ui
