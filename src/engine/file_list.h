// Input collection: how an input path (a folder or an archive) becomes the file list, how the
// list keeps in step with its source, and how command-line arguments choose inputs.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/file_entry.h"
#include "platform/ascii_case.h"
#include "platform/folder_watch.h"
#include "settings/conversion_settings.h"

namespace velorin {

// What decides which files a list takes.
struct ListOptions {
  int32_t IFmt = 0;
  bool SelExt[4] = {false, false, false, false};
  QString ExtStr[4];
  uint32_t hiddenMask = 2;   // Hidden: attribute bits of items left out (2 = dot files)
  QStringList pluginPatterns;  // file patterns the image plug-ins declare ("*.pic")

  static ListOptions from(const ConversionSettings& settings, uint32_t hiddenMask);
};

// The search patterns of a folder scan, in scan order ("*.bmp", ...).
QStringList searchPatterns(const ListOptions& options);

// Whether name has a dot exactly before its last n characters, n being the length of the
// pattern's extension (the part after its last dot).
bool hasPatternExtension(QStringView name, QStringView pattern);

// Whether an archive member's name passes the IFmt filter.
bool memberPassesFilter(QStringView name, const ListOptions& options);

// The source kind of an existing path: a folder, else by the file's extension.
SourceKind sourceKindOf(const QString& path);

// What a dropped or chosen path stands for as an input: a folder, a ".zip", ".rar" or ".cbr" file, or a
// file an archive plug-in accepts is taken as it is; any other file stands for its folder.
QString containerPathFor(const QString& path, const std::function<bool(const QString&)>& pluginAccepts);

// Lists an archive's members as entries (name, folder, memberPosition, size, lastWriteTime);
// false when the archive cannot be opened or read. The archive readers plug in here.
using MemberLister = std::function<bool(SourceKind kind, const QString& archivePath,
                                        std::vector<FileEntry>& members)>;

// Keeps the members of an archive that a list with options takes, in list order.
void keepListedMembers(std::vector<FileEntry>& members, const ListOptions& options);

// Sorting order of the list: entries without a folder part first, then by folder part, then by
// name, all in logical order.
bool entryComesBefore(const FileEntry& a, const FileEntry& b);

// "1,206 KB".
QString formatSizeInKb(uint64_t kiloBytes);
// "1,206": a comma every three digits.
QString withThousandsSeparators(uint64_t number);
// "2013-05-28 14:21:26" in local time.
QString formatListTime(FileTime time);

class FileList {
 public:
  // False when path does not exist (the list is left as it was). Otherwise decides the source
  // kind and, when the path differs from the stored one, stores it and rebuilds the list.
  bool setInputPath(const QString& path, const ListOptions& options);
  // Rebuilds the list from the stored input path.
  void buildFileList(const ListOptions& options);

  // Whether the list still matches its source (tested without waiting). When it does not, the
  // list is rebuilt with the options of its last build and false is returned.
  bool keepInStep();

  void setMemberLister(MemberLister lister) { memberLister_ = std::move(lister); }

  const QString& inputPath() const { return inputPath_; }
  SourceKind kind() const { return kind_; }
  std::vector<FileEntry>& entries() { return entries_; }
  const std::vector<FileEntry>& entries() const { return entries_; }
  qsizetype selectedCount() const;
  FileTime archiveTime() const { return archiveTime_; }

  // Keeps only the entries whose names equal one of names (A to Z without regard to case)
  // selected.
  void selectOnly(const QStringList& names);

 private:
  void buildFromFolder(const ListOptions& options);
  void buildFromArchive(const ListOptions& options);

  QString inputPath_;
  SourceKind kind_ = SourceKind::Folder;
  std::vector<FileEntry> entries_;
  FileTime archiveTime_ = 0;
  FolderWatch watch_;
  ListOptions lastOptions_;
  MemberLister memberLister_;
};

// A symbolic link's target, else path unchanged.
QString resolveShortcut(const QString& path);

// What the program's arguments ask for.
struct CommandLinePlan {
  enum class Mode { None, Open, Convert };
  Mode mode = Mode::None;
  // Open mode: the input path (empty when the first argument does not exist), the output folder
  // and, when files were named, the file names that stay selected.
  QString inputPath;
  QString outputFolder;
  QStringList selectNames;
  // Convert mode: the existing arguments, in order.
  QStringList convertPaths;
};

// arguments without the program's own name. SdToCvt and SdToPath are the command-line settings.
CommandLinePlan handleCommandLine(const QStringList& arguments, bool SdToCvt, const QString& SdToPath);

}  // namespace velorin
