#include "engine/archive_members.h"

#include "sources/plugin_host.h"
#include "sources/zip_reader.h"

namespace velorin {

namespace {

PluginHost hostFor(const ArchiveAccess& access) {
  PluginHost host;
  host.pluginFolder = access.pluginFolder;
  host.disabledPlugins = access.disabledPlugins;
  return host;
}

}  // namespace

bool listArchiveMembers(const ArchiveAccess& access, SourceKind kind, const QString& archivePath,
                        std::vector<FileEntry>& members, FileTime* archiveTime) {
  members.clear();
  std::optional<MemberList> list;
  switch (kind) {
    case SourceKind::Zip: list = listZip(archivePath); break;
    case SourceKind::Rar: list = listRar(archivePath, access.pluginFolder, access.askPassword); break;
    case SourceKind::PluginArchive: {
      PluginHost host = hostFor(access);
      list = listArchiveWithPlugin(host, archivePath);
      break;
    }
    case SourceKind::Folder: break;
  }
  if (!list) return false;
  members.reserve(list->entries.size());
  for (const MemberEntry& member : list->entries) {
    if (member.fileName.isEmpty()) continue;  // a folder entry
    FileEntry entry;
    entry.name = member.fileName;
    entry.folder = member.folder;
    entry.memberPosition = static_cast<int64_t>(member.position);
    entry.size = member.size;
    entry.lastWriteTime = member.fileTime;
    members.push_back(std::move(entry));
  }
  if (archiveTime) *archiveTime = list->archiveTime;
  return true;
}

MemberLister memberListerFor(const ArchiveAccess& access) {
  return [access](SourceKind kind, const QString& archivePath, std::vector<FileEntry>& members) {
    return listArchiveMembers(access, kind, archivePath, members);
  };
}

QStringList imagePluginPatterns(const ArchiveAccess& access) {
  return pluginExtensions(hostFor(access), kPluginImage, true);
}

bool pluginArchiveAccepts(const ArchiveAccess& access, const QString& path) {
  PluginHost host = hostFor(access);
  return isPluginArchive(host, path);
}

}  // namespace velorin
