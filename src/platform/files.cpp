#include "platform/files.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace velorin {

unsigned long currentUserId() { return static_cast<unsigned long>(::getuid()); }

QString temporaryFolder() { return QDir::tempPath(); }

namespace {
bool writeAll(int fd, const char* data, ssize_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}
}  // namespace

bool copyFileContents(const QString& source, const QString& target) {
  const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const QByteArray targetName = QFile::encodeName(target);
  const int out = ::open(targetName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    ::close(in);
    return false;
  }
  char buffer[1 << 16];
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (!writeAll(out, buffer, got)) {
      ok = false;
      break;
    }
  }
  ::close(in);
  if (::close(out) != 0) ok = false;
  return ok;
}

bool copyFileReplacing(const QString& source, const QString& target) {
  if (copyFileContents(source, target)) return true;
  ::unlink(QFile::encodeName(target).constData());
  return false;
}

bool fileIdentity(const QString& path, FileIdentity& identity) {
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0) return false;
  identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  return true;
}

bool removeFile(const QString& path) { return ::unlink(QFile::encodeName(path).constData()) == 0; }

}  // namespace velorin

namespace velorin {

int sourceReadError(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  struct stat info {};
  if (::stat(name.constData(), &info) != 0) return errno;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  if (!S_ISREG(info.st_mode)) return 0;
  const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

}  // namespace velorin
