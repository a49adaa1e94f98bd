#include "engine/input_paths.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <set>

#include "engine/naming.h"
#include "platform/directory.h"
#include "platform/files.h"
#include "platform/logical_compare.h"

namespace velorin {

InputKind inputKindOf(const QString& path, const ArchiveAccess& access) {
  const QFileInfo info(path);
  if (!info.exists()) return InputKind::Missing;
  switch (sourceKindOf(path)) {
    case SourceKind::Folder: return InputKind::Folder;
    case SourceKind::Zip:
    case SourceKind::Rar: return InputKind::Archive;
    case SourceKind::PluginArchive: break;
  }
  return pluginArchiveAccepts(access, path) ? InputKind::PluginArchive : InputKind::File;
}

std::vector<ClassifiedInput> classifyInputs(const QStringList& paths, const ArchiveAccess& access) {
  std::vector<ClassifiedInput> inputs;
  inputs.reserve(static_cast<size_t>(paths.size()));
  for (const QString& path : paths) inputs.push_back({path, inputKindOf(path, access)});
  return inputs;
}

QStringList imageFilesOfFolder(const QString& folder, const ListOptions& options) {
  FileList list;
  list.setInputPath(folder, options);
  const QDir dir(folder);
  QStringList files;
  files.reserve(static_cast<qsizetype>(list.entries().size()));
  for (const FileEntry& entry : list.entries()) files << dir.filePath(entry.name);
  return files;
}

namespace {

QStringList walkableSubFolders(const QString& folder, const ListOptions& options) {
  std::vector<DirectoryItem> items;
  readDirectory(folder, u"*", items);
  QStringList names;
  for (const DirectoryItem& item : items)
    if (item.isFolder && !(item.attributes & options.hiddenMask)) names << item.name;
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return compareLogical(a, b) < 0; });
  return names;
}

class SourceCollector {
 public:
  SourceCollector(const ListOptions& options, const ArchiveAccess& access, bool recursive,
                  const QStringList& skipFolders)
      : options_(options), access_(access), recursive_(recursive) {
    for (const QString& folder : skipFolders) {
      FileIdentity identity;
      if (fileIdentity(folder, identity)) skipped_.insert(identity);
    }
  }

  void add(const ClassifiedInput& input) {
    switch (input.kind) {
      case InputKind::Missing: return;
      case InputKind::File: collected_.sources.push_back({input.path, SourceKind::Folder, {}, {}, 0, false}); return;
      case InputKind::Folder: {
        FileIdentity identity;
        if (fileIdentity(input.path, identity) && !visited_.insert(identity).second) return;
        addFolder(input.path, QString());
        return;
      }
      case InputKind::Archive:
      case InputKind::PluginArchive: addArchive(input); return;
    }
  }

  CollectedSources take() { return std::move(collected_); }

 private:
  void addFolder(const QString& folder, const QString& subFolder) {
    for (const QString& file : imageFilesOfFolder(folder, options_))
      collected_.sources.push_back({file, SourceKind::Folder, subFolder, {}, 0, false});
    for (const QString& name : walkableSubFolders(folder, options_)) {
      const QString child = joinPath(folder, name);
      FileIdentity identity;
      // Links may lead back up the tree, or into the outputs of this very run.
      if (!fileIdentity(child, identity) || skipped_.count(identity)) continue;
      if (!recursive_) {
        ++collected_.skippedFolders;
      } else if (visited_.insert(identity).second) {
        addFolder(child, subFolder + name + QLatin1Char('/'));
      }
    }
  }

  void addArchive(const ClassifiedInput& input) {
    JobSource source;
    source.path = input.path;
    source.kind = input.kind == InputKind::PluginArchive ? SourceKind::PluginArchive : sourceKindOf(input.path);
    source.memberFolders = recursive_;
    if (!listArchiveMembers(access_, source.kind, input.path, source.members, &source.archiveTime)) {
      collected_.unreadableArchives << input.path;
      return;
    }
    keepListedMembers(source.members, options_);
    collected_.sources.push_back(std::move(source));
  }

  const ListOptions& options_;
  const ArchiveAccess& access_;
  const bool recursive_;
  std::set<FileIdentity> skipped_;
  std::set<FileIdentity> visited_;
  CollectedSources collected_;
};

}  // namespace

CollectedSources collectJobSources(const std::vector<ClassifiedInput>& inputs, const ListOptions& options,
                                   const ArchiveAccess& access, bool recursive, const QStringList& skipFolders) {
  SourceCollector collector(options, access, recursive, skipFolders);
  for (const ClassifiedInput& input : inputs) collector.add(input);
  return collector.take();
}

QString defaultOutputFolder(const std::vector<ClassifiedInput>& inputs, const QString& SdToPath) {
  if (!SdToPath.isEmpty()) return SdToPath;
  if (inputs.empty()) return {};
  if (inputs.size() == 1 && inputs[0].kind == InputKind::Folder) return inputs[0].path;
  return QFileInfo(inputs[0].path).absolutePath();
}

}  // namespace velorin
