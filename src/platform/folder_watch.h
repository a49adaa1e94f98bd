// Tells whether a folder's files changed since the watch was opened: files created, deleted,
// renamed, written or with changed attributes, in the folder itself (not its sub-folders, and not
// the sub-folders' own names).
#pragma once

#include <QString>

namespace velorin {

class FolderWatch {
 public:
  FolderWatch() = default;
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  bool open(const QString& folder);  // closes any earlier watch first
  void close();
  bool isOpen() const { return fd_ >= 0; }

  // Never waits. Once a change was seen the watch stays signalled until it is opened again.
  bool changed();

 private:
  int fd_ = -1;
  bool signalled_ = false;
};

}  // namespace velorin

#include <QHash>

#include <vector>

namespace velorin {

// Entries appearing in, leaving or being renamed within a set of watched folders (not
// recursive), for a view that shows those folders. The owner polls fd() for readability (a
// socket notifier) and then calls read(). A rename within one folder arrives as a Left followed by
// an Arrived event. One folder watched under several names (a link and its target) reports each
// change once for every name.
class FolderEvents {
 public:
  enum class Kind { Arrived, Left, Overflow };
  struct Event {
    Kind kind;
    QString folder;  // the watched folder as it was given to watch()
    QString name;    // the entry's name inside it
    bool isFolder = false;
  };

  FolderEvents();
  ~FolderEvents();
  FolderEvents(const FolderEvents&) = delete;
  FolderEvents& operator=(const FolderEvents&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Watching one name twice is counted: it stops after as many unwatch() calls.
  bool watch(const QString& folder);
  void unwatch(const QString& folder);
  bool isWatched(const QString& folder) const { return descriptors_.contains(folder); }

  // Never waits: the events pending now.
  std::vector<Event> read();

 private:
  int fd_ = -1;
  QHash<QString, int> descriptors_;               // name -> inotify descriptor
  QHash<int, QHash<QString, int>> namesAndUses_;  // descriptor -> its names, each with its count
};

}  // namespace velorin
