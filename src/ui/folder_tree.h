// The folder-tree panel on the left of the window: the desktop root (home, the mounted file
// systems, "/") and the favourites root, filled lazily, kept current by folder watches, with a
// worker thread that decides which folders show an expand button so a slow folder never blocks
// the window.
#pragma once

#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QTreeView>
#include <QWidget>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/directory.h"
#include "platform/folder_watch.h"
#include "ui/settings_page.h"

class QAction;
class QMenu;
class QSocketNotifier;
class QStandardItem;
class QStandardItemModel;

namespace velorin::ui {

class TreeItem;

// What decides a folder's children: shared read-only with the worker thread.
struct TreeFilter {
  bool showArchives = true;
  bool showHidden = false;
  QStringList archiveExtensions;  // ".zip", ".rar" when RAR is available, plug-in types
  bool isArchive(const QString& name) const;
};

class FolderTree : public QWidget {
  Q_OBJECT
 public:
  explicit FolderTree(PageHost& host, QWidget* parent = nullptr);
  ~FolderTree() override;

  // Runs on the worker thread before each child check reads a folder (tests make it slow).
  static std::function<void(const QString& folder)> childCheckHook;

  // How the context menu runs; tests pick an entry instead.
  std::function<QAction*(QMenu&)> menuRunner;

  QTreeView* view() const { return view_; }
  QStandardItemModel* model() const { return model_; }

  // Selects and expands path (a dropped path, or the input set elsewhere).
  void selectPath(const QString& path);
  void showHidden(bool on);
  void showArchives(bool on);
  // The items drawn in the input and output fields' colours.
  void setMarkedPaths(const QString& input, const QString& output);
  // Reloads the context-menu and tooltip texts after a language switch.
  void relabel();
  // Shows the tree options of host().settings() (ShowZip, Hidden, DTExpand, FolderList).
  void showSettings();
  // Writes the folder list, its flags and the tree options into host().settings().
  void giveValues();
  // Ends the worker and the watches before the window goes; called once at shutdown.
  void stop();

  // Child checks queued or running, and results not yet applied.
  int pendingChecks() const;
  // Rows of read folders not inserted yet (a long listing goes in over several turns).
  int pendingRows() const;
  void addFavourite(const QString& path);
  QStandardItem* itemForPath(const QString& path) const;

 signals:
  void inputChosen(const QString& path);
  void outputChosen(const QString& path);
  void errorMessage(int id);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class TreeItem;
  struct Check {
    quint64 id;
    QString path;
    std::shared_ptr<const TreeFilter> filter;
  };
  struct Result {
    quint64 id;
    bool hasChildren;
    quint64 generation;
  };

  void buildRoots();
  void populate(TreeItem* item);
  void unpopulate(TreeItem* item);
  TreeItem* makeChild(const QString& folder, const QString& name, bool isFolder);
  TreeItem* makeFavourite(const QString& path);
  TreeItem* makeFavouritesRoot();
  void track(TreeItem* item);
  void fillRows(TreeItem* parent, size_t count);
  void fillStep();
  void scheduleFill();
  TreeItem* childNamed(TreeItem* parent, const QString& name);
  bool holdsChild(const TreeItem* parent, const QString& name) const;
  void insertChild(TreeItem* parent, const FolderChild& child);
  void removeChild(TreeItem* parent, const QString& name);
  void insertSorted(TreeItem* parent, TreeItem* child);
  void queueCheck(TreeItem* item);
  void queueChecks(const std::vector<TreeItem*>& items);
  void discardChecks();
  void requeueUnpopulated();
  void workerLoop();
  void applyResults();
  void readEvents();
  void forgetItem(TreeItem* item);
  void choose(const QModelIndex& index, Qt::KeyboardModifiers modifiers);
  void showMenu(const QPoint& position);
  void updateCursor(Qt::KeyboardModifiers modifiers);
  void refilter();

  PageHost& host_;
  QTreeView* view_ = nullptr;
  QStandardItemModel* model_ = nullptr;
  TreeItem* desktopRoot_ = nullptr;
  TreeItem* favouritesRoot_ = nullptr;
  struct Favourite {
    QString path;
    bool expandAtStart;
  };
  std::vector<Favourite> favourites_;
  bool favouritesExpand_ = true;
  bool desktopExpand_ = true;
  bool built_ = false;
  bool stopped_ = false;
  std::shared_ptr<const TreeFilter> filter_;
  QString markedInput_, markedOutput_;
  Qt::KeyboardModifiers pressModifiers_;
  bool mousePressed_ = false;

  FolderEvents events_;
  QSocketNotifier* eventNotifier_ = nullptr;
  // Every folder item under its path, each holding a watch on it: a read folder follows its
  // entries, an unread one re-checks its expand button when its contents change.
  QHash<QString, QList<TreeItem*>> itemsByPath_;
  std::vector<TreeItem*> filling_;  // read folders with rows still to insert
  bool fillScheduled_ = false;
  QHash<quint64, TreeItem*> checking_;
  quint64 nextCheckId_ = 1;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Check> queue_;
  std::vector<Result> results_;
  quint64 generation_ = 0;
  bool running_ = false;
  bool quit_ = false;
  std::thread worker_;
};

}  // namespace velorin::ui
