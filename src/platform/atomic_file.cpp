#include "platform/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

namespace velorin {

namespace {
bool writeAll(int fd, const char* data, qsizetype size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool unsupported(int error) { return error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP; }

bool noHardLinks(int error) { return error == EPERM || error == EMLINK || unsupported(error); }

// Renames from to a free name to, never replacing anything; -1 with errno set when it cannot.
int renameWithoutReplacing(const QByteArray& from, const QByteArray& to) {
  if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && !unsupported(errno)) return -1;
  // The file system cannot be asked to keep what is there (some FUSE drivers): the name is
  // claimed with an empty file first, which only we then replace.
  const int placeholder = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (placeholder < 0) return -1;
  ::close(placeholder);
  if (::rename(from.constData(), to.constData()) == 0) return 0;
  const int reason = errno;
  ::unlink(to.constData());
  errno = reason;
  return -1;
}

bool isPartName(const char* name) {
  const size_t length = std::strlen(name);
  return length > 14 && std::strncmp(name, ".velorin-", 9) == 0 && std::strcmp(name + length - 5, ".part") == 0;
}

// Hidden files a killed or crashed run left in a folder without unnamed files (a memory card):
// removed once per folder and process, but only when no writer holds its lock on them and they
// were last written a minute ago, so a file being made this moment is never touched.
void removeAbandonedParts(const QByteArray& folder) {
  static std::mutex mutex;
  static QSet<QByteArray> cleaned;
  {
    std::lock_guard lock(mutex);
    if (cleaned.contains(folder)) return;
    cleaned.insert(folder);
  }
  DIR* dir = ::opendir(folder.constData());
  if (!dir) return;
  const int dirFd = ::dirfd(dir);
  const time_t old = ::time(nullptr) - 60;
  while (const dirent* entry = ::readdir(dir)) {
    if (!isPartName(entry->d_name)) continue;
    const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 && info.st_mtime < old &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(dirFd, entry->d_name, 0);
    ::close(fd);
  }
  ::closedir(dir);
}

QString finalTarget(const QString& path) {
  const QFileInfo info(path);
  return info.isSymLink() ? info.symLinkTarget() : path;
}
}  // namespace

PendingFile::~PendingFile() { discard(); }

PendingFile::PendingFile(PendingFile&& other) noexcept { *this = std::move(other); }

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this == &other) return *this;
  discard();
  fd_ = std::exchange(other.fd_, -1);
  folder_ = std::move(other.folder_);
  path_ = std::move(other.path_);
  hiddenName_ = std::move(other.hiddenName_);
  linked_ = std::exchange(other.linked_, false);
  other.path_.clear();
  other.hiddenName_.clear();
  return *this;
}

bool PendingFile::create(const QString& folder) {
  discard();
  const QByteArray folderName = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
  fd_ = ::open(folderName.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
  if (fd_ >= 0) {
    // Writers open files by name; the descriptor's link in /proc is one, where /proc is there.
    const QString procPath = QStringLiteral("/proc/self/fd/%1").arg(fd_);
    if (::access(QFile::encodeName(procPath).constData(), W_OK) == 0) {
      folder_ = folder;
      path_ = procPath;
      return true;
    }
    ::close(fd_);
    fd_ = -1;
  }
  // No unnamed files here: a hidden name that a later run can tell from an output, locked while
  // this run has it open.
  removeAbandonedParts(folderName);
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    const QString name = QStringLiteral(".velorin-%1.part").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                                 QLatin1Char('0'));
    hiddenName_ = QFile::encodeName(QDir(folder).filePath(name));
    fd_ = ::open(hiddenName_.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    hiddenName_.clear();
    return false;
  }
  ::flock(fd_, LOCK_EX | LOCK_NB);  // where there are no locks, the age alone keeps it safe
  folder_ = folder;
  path_ = QFile::decodeName(hiddenName_);
  return true;
}

bool PendingFile::linkTo(const QString& target, int& error) {
  error = 0;
  if (fd_ < 0 || linked_) {
    error = EBADF;
    return false;
  }
  if (::fsync(fd_) != 0) {
    error = errno;
    return false;
  }
  const QByteArray targetName = QFile::encodeName(target);
  int result = hiddenName_.isEmpty() ? ::linkat(AT_FDCWD, QFile::encodeName(path_).constData(), AT_FDCWD,
                                                targetName.constData(), AT_SYMLINK_FOLLOW)
                                     : ::link(hiddenName_.constData(), targetName.constData());
  if (result != 0 && !hiddenName_.isEmpty() && noHardLinks(errno)) {
    // FAT and exFAT (memory cards) have no hard links: the hidden file is renamed instead.
    result = renameWithoutReplacing(hiddenName_, targetName);
    if (result == 0) hiddenName_.clear();  // the name is the output's now
  }
  if (result != 0) {
    error = errno;
    return false;
  }
  linked_ = true;
  syncFolder(QFileInfo(target).absolutePath());
  discard();
  return true;
}

bool PendingFile::replace(const QString& target, const QString& hidden, int& error) {
  if (!linkTo(hidden, error)) return false;
  const QByteArray hiddenPath = QFile::encodeName(hidden);
  if (::rename(hiddenPath.constData(), QFile::encodeName(target).constData()) != 0) {
    error = errno;
    ::unlink(hiddenPath.constData());
    return false;
  }
  syncFolder(QFileInfo(target).absolutePath());
  return true;
}

void PendingFile::discard() {
  if (!hiddenName_.isEmpty()) ::unlink(hiddenName_.constData());
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  hiddenName_.clear();
  path_.clear();
  linked_ = false;
}

bool syncFolder(const QString& folder) {
  const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  const bool ok = ::fsync(dir) == 0;
  ::close(dir);
  return ok;
}

bool replaceFileContents(const QString& path, const QByteArray& bytes) {
  const QString target = finalTarget(path);
  const QFileInfo info(target);
  const QByteArray finalName = QFile::encodeName(target);

  struct stat old {};
  const bool hadFile = ::stat(finalName.constData(), &old) == 0;
  if (hadFile && !S_ISREG(old.st_mode)) return false;

  // A hidden name in the same folder, so the rename stays on one file system.
  int fd = -1;
  QByteArray tempName;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    const QString name = QStringLiteral(".%1.%2").arg(info.fileName()).arg(
        QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    tempName = QFile::encodeName(info.dir().filePath(name));
    fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = writeAll(fd, bytes.constData(), bytes.size());
  if (ok && hadFile) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
  if (ok) ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(tempName.constData(), finalName.constData()) == 0;
  if (!ok) {
    ::unlink(tempName.constData());
    return false;
  }
  // Make the rename itself durable; a failure here no longer loses anything.
  syncFolder(info.absolutePath());
  return true;
}

}  // namespace velorin
