// One entry of the file list: a file of a folder or a member of an archive.
#pragma once

#include <QString>

#include <cstdint>

#include "imaging/image.h"

namespace velorin {

// Where the entries of a file list come from.
enum class SourceKind { Folder = 0, Zip = 1, Rar = 2, PluginArchive = 3 };

struct FileEntry {
  QString name;            // folder: the file name; archive: the member's file name
  QString folder;          // archive: the member's folder inside the archive ("a/b"), else empty
  int64_t memberPosition = 0;  // what the archive reader needs to find the member again
  uint64_t size = 0;
  FileTime lastWriteTime = 0;
  FileTime creationTime = 0;
  bool selected = true;
};

}  // namespace velorin
