// File names between Qt and the standard library. Both sides carry the bytes the file system
// holds, through the local 8-bit encoding Qt uses for names, so a name that is not valid UTF-8
// still opens the same file.
#pragma once

#include <QFile>
#include <QString>

#include <filesystem>

namespace velorin {

inline std::filesystem::path toFsPath(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

inline QString fromFsPath(const std::filesystem::path& path) { return QFile::decodeName(path.c_str()); }

}  // namespace velorin
