#include "platform/trash.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace velorin {

namespace {

bool writeAll(int fd, const QByteArray& bytes) {
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    left -= written;
  }
  return true;
}

// mkdir -p with the given mode for the folders it creates.
bool makeFolders(const QByteArray& path, mode_t mode) {
  struct stat info {};
  if (::stat(path.constData(), &info) == 0) return S_ISDIR(info.st_mode);
  const qsizetype slash = path.lastIndexOf('/');
  if (slash > 0 && !makeFolders(path.left(slash), mode)) return false;
  return ::mkdir(path.constData(), mode) == 0 || errno == EEXIST;
}

struct TrashPlace {
  QByteArray folder;     // the trash folder holding files/ and info/
  QByteArray topFolder;  // the mount's top folder for relative info paths; empty for home trash
};

dev_t deviceOf(const QByteArray& path) {
  struct stat info {};
  return ::stat(path.constData(), &info) == 0 ? info.st_dev : static_cast<dev_t>(-1);
}

// The mount point holding path: walk up while the device stays the same.
QByteArray topFolderOf(const QByteArray& absolutePath) {
  const dev_t device = deviceOf(absolutePath);
  QByteArray current = absolutePath;
  for (;;) {
    const qsizetype slash = current.lastIndexOf('/');
    const QByteArray parent = slash <= 0 ? QByteArray("/") : current.left(slash);
    if (parent == current || deviceOf(parent) != device) return current;
    current = parent;
  }
}

bool usableSharedTrash(const QByteArray& shared) {
  // The administrator-made $topdir/.Trash must be a real folder with the sticky bit.
  struct stat info {};
  return ::lstat(shared.constData(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX);
}

bool preparePlace(const TrashPlace& place) {
  return makeFolders(place.folder, 0700) && makeFolders(place.folder + "/files", 0700) &&
         makeFolders(place.folder + "/info", 0700);
}

bool findTrash(const QByteArray& file, TrashPlace& place) {
  const QByteArray home = QFile::encodeName(homeTrashFolder());
  // The home trash serves every file on the file system that holds it (or would hold it).
  QByteArray homeProbe = home;
  while (deviceOf(homeProbe) == static_cast<dev_t>(-1) && homeProbe.lastIndexOf('/') > 0)
    homeProbe = homeProbe.left(homeProbe.lastIndexOf('/'));
  const QByteArray parent = file.left(qMax<qsizetype>(file.lastIndexOf('/'), 1));
  if (deviceOf(homeProbe) == deviceOf(parent)) {
    place = {home, {}};
    return preparePlace(place);
  }
  const QByteArray top = topFolderOf(parent);
  const QByteArray uid = QByteArray::number(static_cast<qulonglong>(::getuid()));
  const QByteArray base = top == "/" ? QByteArray() : top;
  const QByteArray shared = base + "/.Trash";
  if (usableSharedTrash(shared)) {
    place = {shared + "/" + uid, top};
    if (preparePlace(place)) return true;
  }
  place = {base + "/.Trash-" + uid, top};
  return preparePlace(place);
}

// Reserves a free name in the trash by creating its info file exclusively; returns its name.
QByteArray reserveName(const TrashPlace& place, const QByteArray& fileName, const QByteArray& info,
                       QByteArray& infoPath) {
  const qsizetype dot = fileName.lastIndexOf('.');
  const bool hasExtension = dot > 0;
  const QByteArray stem = hasExtension ? fileName.left(dot) : fileName;
  const QByteArray extension = hasExtension ? fileName.mid(dot) : QByteArray();
  for (int n = 1; n < 100000; ++n) {
    const QByteArray name = n == 1 ? fileName : stem + "." + QByteArray::number(n) + extension;
    struct stat existing {};
    if (::lstat((place.folder + "/files/" + name).constData(), &existing) == 0) continue;
    infoPath = place.folder + "/info/" + name + ".trashinfo";
    const int fd = ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    const bool written = writeAll(fd, info);
    if (::close(fd) != 0 || !written) {
      ::unlink(infoPath.constData());
      return {};
    }
    return name;
  }
  return {};
}

}  // namespace

QString homeTrashFolder() {
  QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
  if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome))
    dataHome = QDir::homePath() + QStringLiteral("/.local/share");
  return QDir::cleanPath(dataHome + QStringLiteral("/Trash"));
}

bool moveToTrash(const QString& path) {
  const QFileInfo fileInfo(path);
  if (!fileInfo.exists() && !fileInfo.isSymLink()) return false;
  // The link itself is trashed, not what it points at; only its folder is made canonical.
  const QString folder = QFileInfo(fileInfo.absolutePath()).canonicalFilePath();
  if (folder.isEmpty()) return false;
  const QByteArray absolute =
      QFile::encodeName(folder == QLatin1String("/") ? QLatin1Char('/') + fileInfo.fileName()
                                                     : folder + QLatin1Char('/') + fileInfo.fileName());
  TrashPlace place;
  if (!findTrash(absolute, place)) return false;

  // Paths in a top folder trash are relative to that top folder.
  QByteArray recorded = absolute;
  if (!place.topFolder.isEmpty() && place.topFolder != "/")
    recorded = absolute.mid(place.topFolder.size() + 1);
  else if (place.topFolder == "/")
    recorded = absolute.mid(1);
  const QByteArray info = "[Trash Info]\nPath=" + QUrl::toPercentEncoding(QString::fromLocal8Bit(recorded), "/") +
                          "\nDeletionDate=" +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() +
                          "\n";
  QByteArray infoPath;
  const QByteArray name = reserveName(place, QFile::encodeName(fileInfo.fileName()), info, infoPath);
  if (name.isEmpty()) return false;
  if (::rename(absolute.constData(), (place.folder + "/files/" + name).constData()) != 0) {
    ::unlink(infoPath.constData());
    return false;
  }
  return true;
}

}  // namespace velorin
