#include "platform/directory.h"

#include <QFile>

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ascii_case.h"
#include "platform/file_times.h"

namespace velorin {

bool matchesPattern(QStringView name, QStringView pattern) {
  // Iterative wildcard matching with one backtrack point: linear in practice, no recursion depth
  // to worry about for hostile names.
  qsizetype n = 0, p = 0, starPattern = -1, starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      starPattern = p++;
      starName = n;
    } else if (p < pattern.size() &&
               (pattern[p] == u'?' ||
                foldAsciiLetter(pattern[p].unicode()) == foldAsciiLetter(name[n].unicode()))) {
      ++p;
      ++n;
    } else if (starPattern >= 0) {
      p = starPattern + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// Calls visit(folderFd, entry) for every entry of folder but "." and ".."; visit returns false to
// stop. False when the folder cannot be read.
template <typename Visit>
bool walkFolder(const QString& folder, Visit visit) {
  const int folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return false;
  DIR* dir = fdopendir(folderFd);
  if (!dir) {
    ::close(folderFd);
    return false;
  }
  while (const dirent* found = readdir(dir)) {
    const char* raw = found->d_name;
    if ((raw[0] == '.' && raw[1] == 0) || (raw[0] == '.' && raw[1] == '.' && raw[2] == 0)) continue;
    if (!visit(folderFd, *found)) break;
  }
  closedir(dir);  // also closes folderFd
  return true;
}

bool readDirectory(const QString& folder, QStringView pattern, std::vector<DirectoryItem>& items) {
  return walkFolder(folder, [&](int folderFd, const dirent& found) {
    const char* raw = found.d_name;
    const QString name = QFile::decodeName(raw);
    if (!matchesPattern(name, pattern)) return true;
    DirectoryItem item;
    item.name = name;
    if (raw[0] == '.') item.attributes |= kAttributeHidden;
    FileTimes times;
    struct stat info {};
    if (fstatat(folderFd, raw, &info, 0) == 0) {
      item.isFolder = S_ISDIR(info.st_mode);
      item.size = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
      if (readFileTimesAt(folderFd, raw, times)) {
        item.lastWriteTime = times.lastWrite;
        item.creationTime = times.creation;
      }
    } else if (fstatat(folderFd, raw, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return true;  // vanished while we were reading
    }
    items.push_back(std::move(item));
    return true;
  });
}

bool pathEntryExists(const QString& path) {
  struct stat info {};
  return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

FolderState folderStateOf(const QString& path) {
  struct stat info {};
  if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
    return errno == ENOENT ? FolderState::Missing : FolderState::Other;
  return S_ISDIR(info.st_mode) ? FolderState::Folder : FolderState::Other;
}

bool makeFolder(const QString& path, int& error) {
  if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0) return true;
  error = errno;
  return false;
}

}  // namespace velorin

namespace velorin {

bool forEachFolderChild(const QString& folder, const std::function<bool(const FolderChild&)>& visit) {
  return walkFolder(folder, [&](int folderFd, const dirent& found) {
    const char* raw = found.d_name;
    FolderChild child;
    if (found.d_type == DT_DIR) {
      child.isFolder = true;
    } else if (found.d_type == DT_UNKNOWN || found.d_type == DT_LNK) {
      struct stat info {};
      child.isFolder = fstatat(folderFd, raw, &info, 0) == 0 && S_ISDIR(info.st_mode);
    }
    child.name = QFile::decodeName(raw);
    child.hidden = raw[0] == '.';
    return visit(child);
  });
}

}  // namespace velorin
