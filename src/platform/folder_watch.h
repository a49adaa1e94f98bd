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
