#include "ui/folder_tree.h"

#include <QApplication>
#include <QBoxLayout>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QSet>
#include <QSocketNotifier>
#include <QStandardItemModel>
#include <QStorageInfo>
#include <QStyledItemDelegate>
#include <QUrl>

#include <algorithm>

#include "engine/language.h"
#include "platform/directory.h"
#include "platform/logical_compare.h"
#include "sources/plugin_host.h"
#include "sources/rar_archive.h"
#include "ui/controls.h"

namespace velorin::ui {

std::function<void(const QString&)> FolderTree::childCheckHook;

namespace {

enum Kind { kFavouritesRoot = 0, kDesktopRoot = 1, kFavourite = 2, kShellItem = 3 };
constexpr int kMayHaveChildrenRole = Qt::UserRole + 1;
// Rows made per turn of the event loop while a long listing goes in: a few milliseconds' work.
constexpr size_t kRowsPerTurn = 500;
constexpr int kDesktopText = 20141, kFavouritesText = 20140;

QString joinPath(const QString& folder, const QString& name) {
  return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

bool asciiSamePath(QString a, QString b) {
  while (a.size() > 1 && a.endsWith(u'/')) a.chop(1);
  while (b.size() > 1 && b.endsWith(u'/')) b.chop(1);
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    char16_t x = a[i].unicode(), y = b[i].unicode();
    if (x >= u'A' && x <= u'Z') x += 32;
    if (y >= u'A' && y <= u'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

// Mount points that hold the user's files, not the kernel's pseudo file systems.
bool holdsFiles(const QStorageInfo& volume) {
  static const QStringList pseudo = {"proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "securityfs",
                                     "debugfs", "tracefs", "pstore", "bpf", "mqueue", "hugetlbfs", "configfs",
                                     "fusectl", "autofs", "binfmt_misc", "squashfs", "nsfs", "efivarfs", "ramfs"};
  if (!volume.isValid() || !volume.isReady() || volume.isRoot()) return false;
  if (pseudo.contains(QString::fromLatin1(volume.fileSystemType()))) return false;
  const QString root = volume.rootPath();
  for (const char* system : {"/proc", "/sys", "/dev", "/run"})
    if (root == QLatin1String(system) || root.startsWith(QLatin1String(system) + u'/'))
      return root.startsWith(u"/run/media/");
  return true;
}

}  // namespace

bool TreeFilter::isArchive(const QString& name) const {
  if (!showArchives) return false;
  for (const QString& extension : archiveExtensions)
    if (name.endsWith(extension, Qt::CaseInsensitive) && name.size() > extension.size()) return true;
  return false;
}

// One tree row: its kind, path and whether its children were read. Forgets itself in the tree's
// registries when deleted, so no check result or watch event can reach a freed item.
class TreeItem : public QStandardItem {
 public:
  TreeItem(FolderTree* tree, int kind, QString path, bool archive)
      : tree_(tree), kind_(kind), path_(std::move(path)), archive_(archive) {
    setEditable(false);
    setData(!archive, kMayHaveChildrenRole);
  }
  ~TreeItem() override { tree_->forgetItem(this); }
  int kind() const { return kind_; }
  const QString& path() const { return path_; }
  bool isArchive() const { return archive_; }
  bool isFolder() const { return !archive_ && kind_ != kFavouritesRoot && kind_ != kDesktopRoot; }
  bool populated = false;
  bool watched = false;
  quint64 checkId = 0;
  std::vector<FolderChild> pending;  // the rest of its listing, in tree order, not yet rows

 private:
  FolderTree* tree_;
  int kind_;
  QString path_;
  bool archive_;
};

namespace {

class TreeModel : public QStandardItemModel {
 public:
  using QStandardItemModel::QStandardItemModel;
  bool hasChildren(const QModelIndex& parent) const override {
    if (!parent.isValid()) return true;
    if (rowCount(parent) > 0) return true;
    auto* item = static_cast<TreeItem*>(itemFromIndex(parent));
    return !item->populated && item->data(kMayHaveChildrenRole).toBool();
  }
  QStringList mimeTypes() const override { return {"text/uri-list"}; }
  QMimeData* mimeData(const QModelIndexList& indexes) const override {
    QList<QUrl> urls;
    for (const QModelIndex& index : indexes) {
      auto* item = static_cast<TreeItem*>(itemFromIndex(index));
      if (!item->path().isEmpty()) urls << QUrl::fromLocalFile(item->path());
    }
    if (urls.isEmpty()) return nullptr;
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
  }
};

// Dragging an item hands it to the window's drop handling; a drop back on the tree does nothing.
class TreeView : public QTreeView {
 public:
  using QTreeView::QTreeView;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override {
    if (event->source() == this) event->accept(); else event->ignore();
  }
  void dragMoveEvent(QDragMoveEvent* event) override {
    if (event->source() == this) event->accept(); else event->ignore();
  }
  void dropEvent(QDropEvent* event) override { event->ignore(); }
};

class MarkDelegate : public QStyledItemDelegate {
 public:
  MarkDelegate(const QString& input, const QString& output, QObject* parent)
      : QStyledItemDelegate(parent), input_(input), output_(output) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    auto* model = static_cast<const QStandardItemModel*>(index.model());
    const QString& path = static_cast<TreeItem*>(model->itemFromIndex(index))->path();
    const bool isInput = !path.isEmpty() && asciiSamePath(path, input_);
    const bool isOutput = !path.isEmpty() && asciiSamePath(path, output_);
    if (!isInput && !isOutput) return QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem marked = option;
    initStyleOption(&marked, index);
    const QColor inputBack(216, 240, 255), outputBack(255, 232, 240);
    QRect upper = option.rect, lower = option.rect;
    upper.setBottom(option.rect.top() + option.rect.height() / 2 - 1);
    lower.setTop(upper.bottom() + 1);
    if (isInput && isOutput) {
      painter->fillRect(upper, inputBack);
      painter->fillRect(lower, outputBack);
    } else {
      painter->fillRect(option.rect, isInput ? inputBack : outputBack);
    }
    const QColor text = isInput && isOutput ? QColor(128, 96, 255) : isInput ? QColor(0, 64, 192) : QColor(128, 32, 64);
    marked.backgroundBrush = Qt::NoBrush;
    marked.state &= ~QStyle::State_Selected;
    marked.palette.setColor(QPalette::Text, text);
    QStyledItemDelegate::paint(painter, marked, index);
  }

 private:
  const QString& input_;
  const QString& output_;
};

}  // namespace

FolderTree::FolderTree(PageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  view_ = new TreeView(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  nameControl(view_, 1001);
  model_ = new TreeModel(this);
  view_->setModel(model_);
  view_->setHeaderHidden(true);
  view_->setUniformRowHeights(true);
  view_->setDragEnabled(true);
  view_->setAcceptDrops(true);
  view_->setDragDropMode(QAbstractItemView::DragOnly);
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  view_->setItemDelegate(new MarkDelegate(markedInput_, markedOutput_, view_));
  view_->viewport()->installEventFilter(this);
  view_->viewport()->setMouseTracking(true);
  qApp->installEventFilter(this);
  connect(view_, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    auto* item = static_cast<TreeItem*>(model_->itemFromIndex(index));
    if (!item->populated) populate(item);
  });
  connect(view_, &QTreeView::clicked, this, [this](const QModelIndex& index) { choose(index, pressModifiers_); });
  // Keyboard selection; a mouse click is handled on release with the modifiers of its press.
  connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
    if (view_->hasFocus() && !mousePressed_) choose(current, QGuiApplication::keyboardModifiers());
  });
  connect(view_, &QWidget::customContextMenuRequested, this, &FolderTree::showMenu);
  if (events_.isOpen()) {
    eventNotifier_ = new QSocketNotifier(events_.fd(), QSocketNotifier::Read, this);
    connect(eventNotifier_, &QSocketNotifier::activated, this, &FolderTree::readEvents);
  }
  worker_ = std::thread([this] { workerLoop(); });
}

FolderTree::~FolderTree() { stop(); }

// --- Building and filling ----------------------------------------------------------------------

void FolderTree::showSettings() {
  const ApplicationSettings& app = host_.settings().application;
  auto filter = std::make_shared<TreeFilter>();
  filter->showArchives = app.ShowZip;
  filter->showHidden = (app.Hidden & kAttributeHidden) == 0;
  filter->archiveExtensions << ".zip";
  const QString plugins = pluginFolderInUse(app.SPI);
  if (rarAvailable(plugins)) filter->archiveExtensions << ".rar";
  PluginHost pluginHost{plugins, {}};
  for (const QString& extension : pluginExtensions(pluginHost, kPluginArchive, false))
    if (!filter->archiveExtensions.contains(extension, Qt::CaseInsensitive)) filter->archiveExtensions << extension;
  if (!built_) {
    filter_ = filter;
    desktopExpand_ = app.DTExpand;
    favouritesExpand_ = app.secondTreeOption;
    for (qsizetype i = 0; i < app.FolderList.size(); ++i)
      if (!app.FolderList[i].isEmpty())
        favourites_.push_back({app.FolderList[i], i < app.folderFlags.size() && app.folderFlags[i] != 0});
    buildRoots();
    return;
  }
  const bool changed = filter->showArchives != filter_->showArchives || filter->showHidden != filter_->showHidden ||
                       filter->archiveExtensions != filter_->archiveExtensions;
  if (!changed) return;
  discardChecks();
  filter_ = filter;
  refilter();
}

void FolderTree::buildRoots() {
  built_ = true;
  QFileIconProvider icons;
  desktopRoot_ = new TreeItem(this, kDesktopRoot, QString(), false);
  desktopRoot_->setText(host_.language().text(kDesktopText));
  desktopRoot_->setIcon(icons.icon(QFileIconProvider::Desktop));
  model_->appendRow(desktopRoot_);
  if (desktopExpand_) view_->expand(desktopRoot_->index());
  if (!favourites_.empty()) {
    makeFavouritesRoot();
    if (favouritesExpand_) {
      view_->expand(favouritesRoot_->index());
      for (int row = 0; row < favouritesRoot_->rowCount(); ++row) {
        auto* item = static_cast<TreeItem*>(favouritesRoot_->child(row));
        for (const Favourite& favourite : favourites_)
          if (favourite.path == item->path() && favourite.expandAtStart) view_->expand(item->index());
      }
    }
  }
}

TreeItem* FolderTree::makeChild(const QString& folder, const QString& name, bool isFolder) {
  static const QIcon folderIcon = QFileIconProvider().icon(QFileIconProvider::Folder);
  static const QIcon fileIcon = QFileIconProvider().icon(QFileIconProvider::File);
  auto* item = new TreeItem(this, kShellItem, joinPath(folder, name), !isFolder);
  item->setText(name);
  item->setIcon(isFolder ? folderIcon : fileIcon);
  if (isFolder) track(item);
  return item;
}

TreeItem* FolderTree::makeFavourite(const QString& path) {
  auto* item = new TreeItem(this, kFavourite, path, false);
  item->setText(path);
  item->setIcon(QFileIconProvider().icon(QFileIconProvider::Folder));
  track(item);
  return item;
}

TreeItem* FolderTree::makeFavouritesRoot() {
  favouritesRoot_ = new TreeItem(this, kFavouritesRoot, QString(), false);
  favouritesRoot_->setText(host_.language().text(kFavouritesText));
  favouritesRoot_->setIcon(QFileIconProvider().icon(QFileIconProvider::Folder));
  model_->appendRow(favouritesRoot_);
  return favouritesRoot_;
}

void FolderTree::track(TreeItem* item) {
  if (!events_.watch(item->path())) return;  // out of watches: the item just stays as it is
  item->watched = true;
  itemsByPath_[item->path()] << item;
}

namespace {
// Folders first, then archives, each in logical order.
bool childOrder(const FolderChild& a, const FolderChild& b) {
  if (a.isFolder != b.isFolder) return a.isFolder;
  return compareLogical(a.name, b.name) < 0;
}
bool treeOrder(const TreeItem* a, const TreeItem* b) {
  if (a->isArchive() != b->isArchive()) return !a->isArchive();
  return compareLogical(a->text(), b->text()) < 0;
}
FolderChild asChild(const TreeItem* item) { return {item->text(), !item->isArchive(), false}; }
}  // namespace

void FolderTree::populate(TreeItem* item) {
  item->populated = true;
  if (item->kind() == kShellItem || item->kind() == kFavourite) {
    // Only the names are read and sorted at once; the rows follow a turn at a time, so a folder
    // of many thousand sub-folders never holds up the window.
    std::vector<FolderChild> listing;
    const TreeFilter& filter = *filter_;
    forEachFolderChild(item->path(), [&](const FolderChild& child) {
      if ((!child.hidden || filter.showHidden) && (child.isFolder || filter.isArchive(child.name)))
        listing.push_back(child);
      return true;
    });
    if (listing.empty()) {
      item->setData(false, kMayHaveChildrenRole);
      return;
    }
    std::sort(listing.begin(), listing.end(), childOrder);
    item->pending = std::move(listing);
    filling_.push_back(item);
    fillRows(item, kRowsPerTurn);
    scheduleFill();
    return;
  }
  std::vector<TreeItem*> sorted;
  if (item->kind() == kDesktopRoot) {
    QStringList roots{QDir::homePath()};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
      if (holdsFiles(volume) && !roots.contains(volume.rootPath())) roots << volume.rootPath();
    roots << "/";
    for (const QString& root : roots) {
      auto* child = new TreeItem(this, kShellItem, root, false);
      child->setText(root == QDir::homePath() ? QFileInfo(root).fileName() : root);
      child->setIcon(QFileIconProvider().icon(root == QDir::homePath() ? QFileIconProvider::Folder : QFileIconProvider::Drive));
      track(child);
      sorted.push_back(child);
    }
  } else {
    std::erase_if(favourites_, [](const Favourite& f) { return !QFileInfo(f.path).isDir(); });
    for (const Favourite& favourite : favourites_) sorted.push_back(makeFavourite(favourite.path));
    std::stable_sort(sorted.begin(), sorted.end(), treeOrder);
  }
  QList<QStandardItem*> children(sorted.begin(), sorted.end());
  if (children.isEmpty()) item->setData(false, kMayHaveChildrenRole);
  else item->appendRows(children);
  queueChecks(sorted);
}

void FolderTree::fillRows(TreeItem* parent, size_t count) {
  const size_t take = std::min(count, parent->pending.size());
  QList<QStandardItem*> rows;
  rows.reserve(static_cast<qsizetype>(take));
  std::vector<TreeItem*> folders;
  for (size_t i = 0; i < take; ++i) {
    TreeItem* child = makeChild(parent->path(), parent->pending[i].name, parent->pending[i].isFolder);
    rows << child;
    if (child->isFolder()) folders.push_back(child);
  }
  parent->pending.erase(parent->pending.begin(), parent->pending.begin() + static_cast<ptrdiff_t>(take));
  if (parent->pending.empty()) std::erase(filling_, parent);
  parent->appendRows(rows);  // one insertion for the whole batch
  queueChecks(folders);
}

void FolderTree::fillStep() {
  fillScheduled_ = false;
  for (size_t budget = kRowsPerTurn; budget > 0 && !filling_.empty();) {
    TreeItem* parent = filling_.front();
    const size_t take = std::min(budget, parent->pending.size());
    fillRows(parent, take);
    budget -= take;
  }
  scheduleFill();
}

void FolderTree::scheduleFill() {
  if (fillScheduled_ || filling_.empty() || stopped_) return;
  fillScheduled_ = true;
  QMetaObject::invokeMethod(this, &FolderTree::fillStep, Qt::QueuedConnection);
}

int FolderTree::pendingRows() const {
  size_t rows = 0;
  for (const TreeItem* item : filling_) rows += item->pending.size();
  return static_cast<int>(rows);
}

void FolderTree::unpopulate(TreeItem* item) {
  if (!item->populated) return;
  item->removeRows(0, item->rowCount());
  item->populated = false;
  if (!item->pending.empty()) std::erase(filling_, item);
  item->pending.clear();
}

void FolderTree::forgetItem(TreeItem* item) {
  if (item->checkId) checking_.remove(item->checkId);
  if (!item->pending.empty()) std::erase(filling_, item);
  if (item->watched) {
    events_.unwatch(item->path());
    auto found = itemsByPath_.find(item->path());
    if (found != itemsByPath_.end() && found->removeAll(item) > 0 && found->isEmpty()) itemsByPath_.erase(found);
  }
  if (item == desktopRoot_) desktopRoot_ = nullptr;
  if (item == favouritesRoot_) favouritesRoot_ = nullptr;
}

void FolderTree::insertSorted(TreeItem* parent, TreeItem* child) {
  int low = 0, high = parent->rowCount();
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (treeOrder(static_cast<TreeItem*>(parent->child(middle)), child)) low = middle + 1;
    else high = middle;
  }
  parent->insertRow(low, child);
  if (child->isFolder()) queueCheck(child);
}

TreeItem* FolderTree::childNamed(TreeItem* parent, const QString& name) {
  for (int pass = 0; pass < 2; ++pass) {
    for (int row = 0; row < parent->rowCount(); ++row)
      if (parent->child(row)->text() == name) return static_cast<TreeItem*>(parent->child(row));
    if (parent->pending.empty()) break;
    fillRows(parent, parent->pending.size());  // going somewhere inside: the rest is needed now
  }
  return nullptr;
}

bool FolderTree::holdsChild(const TreeItem* parent, const QString& name) const {
  const QString path = joinPath(parent->path(), name);
  for (int row = 0; row < parent->rowCount(); ++row)
    if (static_cast<TreeItem*>(parent->child(row))->path() == path) return true;
  return std::any_of(parent->pending.begin(), parent->pending.end(),
                     [&](const FolderChild& child) { return child.name == name; });
}

void FolderTree::insertChild(TreeItem* parent, const FolderChild& child) {
  // While the listing is still going in, a name that sorts after the rows so far waits with the
  // rest, so the order holds.
  if (!parent->pending.empty()) {
    const int last = parent->rowCount() - 1;
    if (last < 0 || childOrder(asChild(static_cast<TreeItem*>(parent->child(last))), child)) {
      parent->pending.insert(std::lower_bound(parent->pending.begin(), parent->pending.end(), child, childOrder), child);
      return;
    }
  }
  insertSorted(parent, makeChild(parent->path(), child.name, child.isFolder));
}

void FolderTree::removeChild(TreeItem* parent, const QString& name) {
  const QString path = joinPath(parent->path(), name);
  for (int row = parent->rowCount() - 1; row >= 0; --row)
    if (static_cast<TreeItem*>(parent->child(row))->path() == path) parent->removeRow(row);
  if (std::erase_if(parent->pending, [&](const FolderChild& child) { return child.name == name; }) > 0 &&
      parent->pending.empty())
    std::erase(filling_, parent);
}

// --- Child checks ------------------------------------------------------------------------------

void FolderTree::queueCheck(TreeItem* item) { queueChecks({item}); }

void FolderTree::queueChecks(const std::vector<TreeItem*>& items) {
  if (stopped_ || items.empty()) return;
  std::vector<Check> checks;
  checks.reserve(items.size());
  for (TreeItem* item : items) {
    if (item->checkId) checking_.remove(item->checkId);  // a newer answer is wanted
    item->checkId = nextCheckId_++;
    checking_.insert(item->checkId, item);
    checks.push_back({item->checkId, item->path(), filter_});
  }
  {
    std::lock_guard lock(mutex_);
    for (Check& check : checks) queue_.push_back(std::move(check));
  }
  wake_.notify_one();
}

void FolderTree::discardChecks() {
  std::lock_guard lock(mutex_);
  ++generation_;
  queue_.clear();
  results_.clear();
}

void FolderTree::workerLoop() {
  for (;;) {
    Check check;
    quint64 generation;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
      if (quit_) return;
      check = std::move(queue_.front());
      queue_.pop_front();
      generation = generation_;
      running_ = true;
    }
    if (childCheckHook) childCheckHook(check.path);
    bool found = false;
    const TreeFilter& filter = *check.filter;
    forEachFolderChild(check.path, [&](const FolderChild& child) {
      if (child.hidden && !filter.showHidden) return true;
      found = child.isFolder || filter.isArchive(child.name);
      return !found;
    });
    std::lock_guard lock(mutex_);
    running_ = false;
    if (generation != generation_) continue;  // discarded while it ran: the answer may be stale
    const bool first = results_.empty();
    results_.push_back({check.id, found, generation});
    if (first) QMetaObject::invokeMethod(this, &FolderTree::applyResults, Qt::QueuedConnection);
  }
}

void FolderTree::applyResults() {
  // A bounded batch per turn of the event loop keeps the window responsive.
  constexpr size_t kBatch = 400;
  std::vector<Result> batch;
  bool more = false;
  {
    std::lock_guard lock(mutex_);
    const size_t take = std::min(kBatch, results_.size());
    batch.assign(results_.begin(), results_.begin() + static_cast<ptrdiff_t>(take));
    results_.erase(results_.begin(), results_.begin() + static_cast<ptrdiff_t>(take));
    more = !results_.empty();
  }
  for (const Result& result : batch) {
    TreeItem* item = checking_.take(result.id);
    if (!item) continue;
    item->checkId = 0;
    if (!item->populated && item->data(kMayHaveChildrenRole).toBool() != result.hasChildren)
      item->setData(result.hasChildren, kMayHaveChildrenRole);
  }
  if (more) QMetaObject::invokeMethod(this, &FolderTree::applyResults, Qt::QueuedConnection);
}

int FolderTree::pendingChecks() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(queue_.size() + results_.size()) + (running_ ? 1 : 0);
}

void FolderTree::stop() {
  if (stopped_) return;
  stopped_ = true;
  qApp->removeEventFilter(this);
  discardChecks();
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
  if (eventNotifier_) eventNotifier_->setEnabled(false);
  model_->clear();
  checking_.clear();
  filling_.clear();
}

// --- Live updates and option switches ----------------------------------------------------------

void FolderTree::readEvents() {
  for (const FolderEvents::Event& event : events_.read()) {
    if (event.kind == FolderEvents::Kind::Overflow) continue;
    if (event.name.startsWith(u'.') && !filter_->showHidden) continue;
    const QString path = joinPath(event.folder, event.name);
    const bool arrived = event.kind == FolderEvents::Kind::Arrived;
    // A link to a folder arrives as a plain entry; only what arrives can still be asked.
    const bool isFolder = event.isFolder || (arrived && QFileInfo(path).isDir());
    if (!isFolder && !filter_->isArchive(event.name)) continue;
    const QList<TreeItem*> showing = itemsByPath_.value(event.folder);
    for (TreeItem* item : showing) {
      if (!itemsByPath_.value(event.folder).contains(item)) continue;  // went with an earlier change
      if (!item->populated) {
        // Not read: only its expand button can change, and the worker decides it.
        if (arrived != item->data(kMayHaveChildrenRole).toBool()) queueCheck(item);
      } else if (!arrived) {
        removeChild(item, event.name);
      } else if (!view_->isExpanded(item->index())) {
        unpopulate(item);  // read again on the next expansion
        item->setData(true, kMayHaveChildrenRole);
      } else if (!holdsChild(item, event.name)) {
        insertChild(item, {event.name, isFolder, false});
      }
    }
  }
}

void FolderTree::requeueUnpopulated() {
  std::vector<TreeItem*> stack, unread;
  for (int row = 0; row < model_->rowCount(); ++row) stack.push_back(static_cast<TreeItem*>(model_->item(row)));
  while (!stack.empty()) {
    TreeItem* item = stack.back();
    stack.pop_back();
    if (item->isFolder() && !item->populated) unread.push_back(item);
    for (int row = 0; row < item->rowCount(); ++row) stack.push_back(static_cast<TreeItem*>(item->child(row)));
  }
  queueChecks(unread);
}

// Brings every read folder in line with the filter: removes what it now excludes, adds what it
// now admits, and checks the expand buttons of the unread folders again.
void FolderTree::refilter() {
  const TreeFilter& filter = *filter_;
  auto excluded = [&](const FolderChild& child) {
    return (child.hidden && !filter.showHidden) || (!child.isFolder && !filter.isArchive(child.name));
  };
  std::vector<TreeItem*> stack;
  for (int row = 0; row < model_->rowCount(); ++row) stack.push_back(static_cast<TreeItem*>(model_->item(row)));
  while (!stack.empty()) {
    TreeItem* item = stack.back();
    stack.pop_back();
    if (!item->populated) continue;
    if (item->kind() == kShellItem || item->kind() == kFavourite) {
      QSet<QString> present;
      for (int row = item->rowCount() - 1; row >= 0; --row) {
        auto* child = static_cast<TreeItem*>(item->child(row));
        FolderChild shown = asChild(child);
        shown.hidden = shown.name.startsWith(u'.');
        if (excluded(shown)) item->removeRow(row);
        else present.insert(shown.name);
      }
      std::erase_if(item->pending, excluded);
      if (item->pending.empty()) std::erase(filling_, item);
      for (const FolderChild& child : item->pending) present.insert(child.name);
      forEachFolderChild(item->path(), [&](const FolderChild& child) {
        if (!excluded(child) && !present.contains(child.name)) insertChild(item, child);
        return true;
      });
    }
    for (int row = 0; row < item->rowCount(); ++row) stack.push_back(static_cast<TreeItem*>(item->child(row)));
  }
  requeueUnpopulated();
}

void FolderTree::showHidden(bool on) {
  if (filter_->showHidden == on) return;
  discardChecks();
  auto filter = std::make_shared<TreeFilter>(*filter_);
  filter->showHidden = on;
  filter_ = filter;
  int32_t& hidden = host_.settings().application.Hidden;
  hidden = on ? (hidden & ~kAttributeHidden) : (hidden | kAttributeHidden);
  refilter();
}

void FolderTree::showArchives(bool on) {
  if (filter_->showArchives == on) return;
  discardChecks();
  auto filter = std::make_shared<TreeFilter>(*filter_);
  filter->showArchives = on;
  filter_ = filter;
  host_.settings().application.ShowZip = on;
  refilter();
}

// --- Selection, paths, favourites --------------------------------------------------------------

void FolderTree::choose(const QModelIndex& index, Qt::KeyboardModifiers modifiers) {
  if (!index.isValid()) return;
  const QString path = static_cast<TreeItem*>(model_->itemFromIndex(index))->path();
  if (path.isEmpty()) return;
  const bool shift = modifiers & Qt::ShiftModifier, control = modifiers & Qt::ControlModifier;
  const QString folder = QFileInfo(path).isDir() ? path : QFileInfo(path).absolutePath();
  if (shift == control || shift) emit inputChosen(path);
  if (shift == control || control) emit outputChosen(folder);
}

QStandardItem* FolderTree::itemForPath(const QString& path) const {
  std::vector<TreeItem*> stack;
  for (int row = 0; row < model_->rowCount(); ++row) stack.push_back(static_cast<TreeItem*>(model_->item(row)));
  while (!stack.empty()) {
    TreeItem* item = stack.back();
    stack.pop_back();
    if (item->path() == path && item->kind() == kShellItem) return item;
    for (int row = 0; row < item->rowCount(); ++row) stack.push_back(static_cast<TreeItem*>(item->child(row)));
  }
  return nullptr;
}

void FolderTree::selectPath(const QString& wanted) {
  if (!desktopRoot_) return;
  const QString path = QDir::cleanPath(QFileInfo(wanted).absoluteFilePath());
  if (!desktopRoot_->populated) populate(desktopRoot_);
  view_->expand(desktopRoot_->index());
  // The desktop entry with the longest path that holds the wanted one, then down name by name.
  TreeItem* item = nullptr;
  for (int row = 0; row < desktopRoot_->rowCount(); ++row) {
    auto* root = static_cast<TreeItem*>(desktopRoot_->child(row));
    const QString prefix = root->path().endsWith(u'/') ? root->path() : root->path() + u'/';
    if ((path == root->path() || path.startsWith(prefix)) && (!item || root->path().size() > item->path().size()))
      item = root;
  }
  if (!item) return;
  const QStringList names = path.mid(item->path().size()).split(u'/', Qt::SkipEmptyParts);
  for (const QString& name : names) {
    if (!item->populated) populate(item);
    view_->expand(item->index());
    TreeItem* next = childNamed(item, name);
    if (!next) break;
    item = next;
  }
  if (item->isFolder() && !item->populated) populate(item);
  view_->expand(item->index());
  view_->setCurrentIndex(item->index());
  view_->scrollTo(item->index());
  choose(item->index(), QGuiApplication::keyboardModifiers());
}

void FolderTree::setMarkedPaths(const QString& input, const QString& output) {
  markedInput_ = input;
  markedOutput_ = output;
  view_->viewport()->update();
}

void FolderTree::addFavourite(const QString& path) {
  for (const Favourite& favourite : favourites_)
    if (favourite.path == path) return;
  favourites_.push_back({path, false});
  if (!favouritesRoot_) makeFavouritesRoot();
  if (favouritesRoot_->populated) insertSorted(favouritesRoot_, makeFavourite(path));
}

void FolderTree::giveValues() {
  ApplicationSettings& app = host_.settings().application;
  app.ShowZip = filter_->showArchives;
  app.DTExpand = desktopExpand_;
  app.secondTreeOption = favouritesExpand_;
  app.FolderList.clear();
  app.folderFlags.clear();
  for (const Favourite& favourite : favourites_) {
    app.FolderList << favourite.path;
    app.folderFlags.append(favourite.expandAtStart ? char(1) : char(0));
  }
}

void FolderTree::relabel() {
  if (desktopRoot_) desktopRoot_->setText(host_.language().text(kDesktopText));
  if (favouritesRoot_) favouritesRoot_->setText(host_.language().text(kFavouritesText));
}

// --- Context menu and cursor -------------------------------------------------------------------

void FolderTree::showMenu(const QPoint& position) {
  const QModelIndex index = view_->indexAt(position);
  if (!index.isValid()) return;
  auto* item = static_cast<TreeItem*>(model_->itemFromIndex(index));
  const LanguageModule& language = host_.language();
  QMenu menu(this);
  auto add = [&](int id, bool enabled) {
    QAction* action = menu.addAction(language.text(id));
    action->setObjectName(controlName(id));
    action->setStatusTip(language.text(id + 10000));
    action->setEnabled(enabled);
    action->setData(id);
    return action;
  };
  const bool hasPath = !item->path().isEmpty();
  add(5000, hasPath);
  add(5001, hasPath);
  menu.addSeparator();
  add(5010, item->kind() == kShellItem && item->isFolder());
  add(5011, item->kind() == kFavourite);
  menu.addSeparator();
  auto favourite = std::find_if(favourites_.begin(), favourites_.end(),
                                 [&](const Favourite& f) { return item->kind() == kFavourite && f.path == item->path(); });
  QAction* expand = add(5020, item->kind() != kShellItem);
  expand->setCheckable(true);
  expand->setChecked(item->kind() == kDesktopRoot     ? desktopExpand_
                     : item->kind() == kFavouritesRoot ? favouritesExpand_
                                                       : favourite != favourites_.end() && favourite->expandAtStart);
  QAction* archives = add(5030, true);
  archives->setCheckable(true);
  archives->setChecked(filter_->showArchives);
  menu.addSeparator();
  add(5040, hasPath);
  const QPersistentModelIndex kept(index);
  QAction* chosen = menuRunner ? menuRunner(menu) : menu.exec(view_->viewport()->mapToGlobal(position));
  if (!chosen || !kept.isValid()) return;
  const QString path = item->path();
  switch (chosen->data().toInt()) {
    case 5000: choose(kept, Qt::ShiftModifier); break;
    case 5001: choose(kept, Qt::ControlModifier); break;
    case 5010: addFavourite(path); break;
    case 5011:
      std::erase_if(favourites_, [&](const Favourite& f) { return f.path == path; });
      item->parent()->removeRow(item->row());
      if (favourites_.empty() && favouritesRoot_) model_->removeRow(favouritesRoot_->row());
      break;
    case 5020:
      if (item->kind() == kDesktopRoot) desktopExpand_ = !desktopExpand_;
      else if (item->kind() == kFavouritesRoot) favouritesExpand_ = !favouritesExpand_;
      else if (favourite != favourites_.end()) favourite->expandAtStart = !favourite->expandAtStart;
      break;
    case 5030: showArchives(!filter_->showArchives); break;
    case 5040:
      if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) emit errorMessage(30007);
      break;
  }
}

void FolderTree::updateCursor(Qt::KeyboardModifiers modifiers) {
  const bool shift = modifiers & Qt::ShiftModifier, control = modifiers & Qt::ControlModifier;
  view_->viewport()->setCursor(shift == control ? Qt::PointingHandCursor : shift ? Qt::UpArrowCursor : Qt::DragCopyCursor);
}

bool FolderTree::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_->viewport()) {
    if (event->type() == QEvent::MouseButtonPress) {
      pressModifiers_ = static_cast<QMouseEvent*>(event)->modifiers();
      mousePressed_ = true;
    }
    if (event->type() == QEvent::MouseButtonRelease) mousePressed_ = false;
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove)
      updateCursor(QGuiApplication::queryKeyboardModifiers());
  } else if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && view_->underMouse()) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Shift || key->key() == Qt::Key_Control) updateCursor(key->modifiers());
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace velorin::ui
