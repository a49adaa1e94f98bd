// What a path of a command line or a drop stands for as an input, and the lists a job takes from
// such paths. Shared by the headless mode and the window; no widgets here.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

#include "engine/archive_members.h"
#include "engine/file_list.h"
#include "engine/job.h"

namespace velorin {

enum class InputKind {
  Missing,        // nothing at the path
  File,           // any other file: an image, or something the job will refuse by name
  Folder,
  Archive,        // a ".zip", ".rar" or ".cbr" file (A to Z without regard to case)
  PluginArchive,  // a file an archive plug-in of access accepts
};

// A folder and an archive are taken as lists of their files or members.
inline bool isListSource(InputKind kind) {
  return kind == InputKind::Folder || kind == InputKind::Archive || kind == InputKind::PluginArchive;
}

// Asks the archive plug-ins only for files that are not already known by their extension.
InputKind inputKindOf(const QString& path, const ArchiveAccess& access);

struct ClassifiedInput {
  QString path;
  InputKind kind = InputKind::Missing;
};

// Each path with its kind, in the order given.
std::vector<ClassifiedInput> classifyInputs(const QStringList& paths, const ArchiveAccess& access);

// The files of a folder as its file list takes them (list order), as paths inside folder.
QStringList imageFilesOfFolder(const QString& folder, const ListOptions& options);

// The sources of a job over several inputs.
struct CollectedSources {
  std::vector<JobSource> sources;
  QStringList unreadableArchives;  // archives whose members could not be listed
  qsizetype skippedFolders = 0;    // sub-folders a recursive walk would have entered
};

// Each file as it is; each archive as its members that options take, in list order, keeping their
// folder parts when recursive; each folder as its image files, and when recursive those of every
// sub-folder below it too, each with its sub-folder path from the folder given. Hidden
// sub-folders are entered only when options take hidden items. A folder met again (a link back
// up the tree) is walked once; a folder of skipFolders (the output folders) is never entered,
// though it may be given itself.
CollectedSources collectJobSources(const std::vector<ClassifiedInput>& inputs, const ListOptions& options,
                                   const ArchiveAccess& access, bool recursive, const QStringList& skipFolders);

// The output folder of a job given no output folder: SdToPath when set, a single folder itself,
// else the folder of the first input. Empty when inputs is empty.
QString defaultOutputFolder(const std::vector<ClassifiedInput>& inputs, const QString& SdToPath);

}  // namespace velorin
