#include "engine/input_paths.h"

#include <QDir>
#include <QFileInfo>

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

QString defaultOutputFolder(const std::vector<ClassifiedInput>& inputs, const QString& SdToPath) {
  if (!SdToPath.isEmpty()) return SdToPath;
  if (inputs.empty()) return {};
  if (inputs.size() == 1 && inputs[0].kind == InputKind::Folder) return inputs[0].path;
  return QFileInfo(inputs[0].path).absolutePath();
}

}  // namespace velorin
