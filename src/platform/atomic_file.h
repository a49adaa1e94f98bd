// Files that appear whole or not at all: replacing a file's contents in one step, and new files
// that get their name only once they are complete.
#pragma once

#include <QByteArray>
#include <QString>

namespace velorin {

// A new file without a name (O_TMPFILE) in a folder, or with a hidden name where the file system
// has no unnamed files. It is removed when the object goes unless it was linked to a name, so a
// failure or an early return leaves nothing behind; a killed process leaves nothing or, where
// the file system has no unnamed files, a hidden part that the next run in that folder removes.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();
  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) noexcept;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the file in folder; false when it cannot be made.
  bool create(const QString& folder);
  bool isOpen() const { return fd_ >= 0; }
  // A path under which the file can be opened again, for code that writes by path.
  const QString& path() const { return path_; }

  // Flushes the file to the disk and gives it the name target (in the folder it was made in),
  // never replacing anything; then flushes the folder entry too. false with error set to EEXIST
  // when target is taken, else to the reason.
  bool linkTo(const QString& target, int& error);
  // Flushes the file and gives it the name target, replacing what is there in one rename, so
  // readers see the old file or the new one, never a part. hidden is a free name beside target
  // to link through first. false with error set when anything fails; target is then unchanged.
  bool replace(const QString& target, const QString& hidden, int& error);
  // Removes the file now; done by the destructor too.
  void discard();

 private:
  int fd_ = -1;
  QString folder_;
  QString path_;
  QByteArray hiddenName_;  // empty for an unnamed file
  bool linked_ = false;
};

// Flushes a folder's entries to the disk; false when it cannot.
bool syncFolder(const QString& folder);

// Writes bytes to a new file beside path, flushes it to the disk and renames it over path, so
// readers see either the old or the new contents, never a part. A symbolic link at path is
// followed and its target replaced; the old file's permissions are kept. False when anything
// fails; path is then unchanged and no new file is left behind.
bool replaceFileContents(const QString& path, const QByteArray& bytes);

}  // namespace velorin
