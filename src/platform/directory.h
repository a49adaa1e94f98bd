// Reading a folder the way the file list needs it: items matching a name pattern, with the
// facts a list entry records.
#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/file_time.h"

namespace velorin {

// Attribute bits of a directory item. Only "hidden" is ever set here: a name starting with ".".
constexpr uint32_t kAttributeHidden = 2;

struct DirectoryItem {
  QString name;
  bool isFolder = false;
  uint32_t attributes = 0;
  uint64_t size = 0;
  FileTime lastWriteTime = 0;
  FileTime creationTime = 0;  // 0 when the file system keeps no birth time
};

// Matches a whole name against a pattern of literal characters, "*" (any run, also empty) and
// "?" (one character). Letters A to Z match without regard to case; nothing else is folded.
bool matchesPattern(QStringView name, QStringView pattern);

// Appends the items of folder whose names match pattern, in directory order ("." and ".." are
// never items). Symbolic links report what they point at; a dangling link is a plain file of
// size 0. False when the folder cannot be read.
bool readDirectory(const QString& folder, QStringView pattern, std::vector<DirectoryItem>& items);

// True when a directory entry of that name exists, whatever it is (a dangling link counts too, so
// a new file is never written through it).
bool pathEntryExists(const QString& path);

// What a name in a folder stands for when an output folder is to be made there; a link counts as
// Other, even one to a folder, so nothing is ever written through a link the run did not make.
enum class FolderState { Missing, Folder, Other };
FolderState folderStateOf(const QString& path);

// Creates one folder (mode 0777 less the umask); false with errno's reason in error.
bool makeFolder(const QString& path, int& error);

}  // namespace velorin

namespace velorin {

// A folder's entries as the folder tree needs them: the name, whether it is a folder (links
// followed) and whether the name is hidden. Reads the directory's type field and asks the file
// system only when that is unknown or a link. visit returns false to stop early. False when the
// folder cannot be read.
struct FolderChild {
  QString name;
  bool isFolder = false;
  bool hidden = false;
};
bool forEachFolderChild(const QString& folder, const std::function<bool(const FolderChild&)>& visit);

}  // namespace velorin
