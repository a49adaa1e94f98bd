// The archive readers as the file list sees them: one call that lists a ZIP, RAR or plug-in
// archive as file entries, for FileList's member lister.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

#include "engine/file_entry.h"
#include "engine/file_list.h"
#include "sources/rar_archive.h"

namespace velorin {

struct ArchiveAccess {
  QString pluginFolder;         // SPI: plug-ins and the RAR library
  QStringList disabledPlugins;  // plug-ins the user switched off
  PasswordPrompt askPassword;   // for RAR archives whose listing needs one
};

// The members of archivePath as entries in archive order (folder entries left out): name,
// folder ("a/b/"), member position, size and time. False when the archive cannot be listed.
// archiveTime, when given, receives the archive's last-write time.
bool listArchiveMembers(const ArchiveAccess& access, SourceKind kind, const QString& archivePath,
                        std::vector<FileEntry>& members, FileTime* archiveTime = nullptr);

// The lister a FileList uses for its archive sources.
MemberLister memberListerFor(const ArchiveAccess& access);

// The file patterns of the enabled image plug-ins, for ListOptions::pluginPatterns.
QStringList imagePluginPatterns(const ArchiveAccess& access);

// Whether an archive plug-in takes the file (the container decision for dropped paths).
bool pluginArchiveAccepts(const ArchiveAccess& access, const QString& path);

}  // namespace velorin
