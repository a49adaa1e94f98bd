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

#include <vector>

namespace velorin {

// Entries appearing in, leaving or being renamed within a set of watched folders (not
// recursive), for a view that shows those folders. The owner polls fd() for readability (a
// socket notifier) and then calls read(). A rename within one folder arrives as a Left followed by
// an Arrived event.
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
  // Watching one folder twice is counted: it stops after as many unwatch() calls.
  bool watch(const QString& folder);
  void unwatch(const QString& folder);
  bool isWatched(const QString& folder) const;

  // Never waits: the events pending now.
  std::vector<Event> read();

 private:
  struct Watch {
    int descriptor;
    QString folder;
    int uses;
  };
  int fd_ = -1;
  std::vector<Watch> watches_;
};

}  // namespace velorin
