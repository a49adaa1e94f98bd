// One entry of the file list: a file of a folder or a member of an archive.
#pragma once

#include <QString>

#include <cstdint>

#include "imaging/image.h"

namespace velorin {

// Where the entries of a file list come from.
enum class SourceKind { Folder = 0, Zip = 1, Rar = 2, PluginArchive = 3 };

struct FileEntry {
  QString name;    // folder: the file name; archive: the member's file name without its folder
  QString folder;  // archive: the member's folder inside the archive, "/"-separated and ending
                   // in "/" ("a/b/"); empty for top-level members and for folder sources
  int64_t memberPosition = 0;  // what the archive reader needs to find the member again
  uint64_t size = 0;           // in bytes
  FileTime lastWriteTime = 0;  // folder: from the listing; archive: the member's time
  FileTime creationTime = 0;   // folder: the birth time when the file system keeps one
  bool selected = true;        // every new entry starts selected

  // The size as the list shows it: whole KiB, rounded up.
  uint64_t sizeInKb() const { return (size + 1023) / 1024; }
  // The name as the list shows it: folder part and name.
  QString displayName() const { return folder + name; }
};

}  // namespace velorin
