#include "platform/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

QString finalTarget(const QString& path) {
  const QFileInfo info(path);
  return info.isSymLink() ? info.symLinkTarget() : path;
}
}  // namespace

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
  const int dir = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace velorin
