#include "engine/file_list.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

#include "platform/directory.h"
#include "platform/file_times.h"
#include "platform/links.h"
#include "platform/logical_compare.h"

namespace velorin {

namespace {

// The extension of a name: from the last dot on, or empty when there is none.
QStringView extensionOf(QStringView name) {
  const qsizetype dot = name.lastIndexOf(u'.');
  return dot < 0 ? QStringView() : name.mid(dot);
}

const char16_t* const kBuiltInExtensions[] = {u".bmp", u".png", u".jpg", u".jpe", u".jpeg",
                                              u".tif", u".tiff", u".gif"};

// The IFmt 1..5 an extension gives, or 0.
int formatOfExtension(QStringView extension) {
  static const struct {
    const char16_t* extension;
    int format;
  } kTable[] = {{u".bmp", 1}, {u".png", 2}, {u".jpg", 3}, {u".jpe", 3}, {u".jpeg", 3},
                {u".tif", 4}, {u".tiff", 4}, {u".gif", 5}};
  for (const auto& row : kTable)
    if (sameNameIgnoringAsciiCase(extension, QStringView(row.extension))) return row.format;
  return 0;
}

QString folderOfPath(const QString& path) {
  return QFileInfo(path).absolutePath();
}

}  // namespace

ListOptions ListOptions::from(const ConversionSettings& s, uint32_t hiddenMask) {
  ListOptions options;
  options.IFmt = s.IFmt;
  options.SelExt[0] = s.SelExt0;
  options.SelExt[1] = s.SelExt1;
  options.SelExt[2] = s.SelExt2;
  options.SelExt[3] = s.SelExt3;
  options.ExtStr[0] = s.ExtStr0;
  options.ExtStr[1] = s.ExtStr1;
  options.ExtStr[2] = s.ExtStr2;
  options.ExtStr[3] = s.ExtStr3;
  options.hiddenMask = hiddenMask;
  return options;
}

QStringList searchPatterns(const ListOptions& options) {
  QStringList patterns;
  auto add = [&](std::initializer_list<const char16_t*> extensions) {
    for (const char16_t* e : extensions) patterns << QLatin1Char('*') + QString::fromUtf16(e);
  };
  switch (options.IFmt) {
    case 1: add({u".bmp"}); break;
    case 2: add({u".png"}); break;
    case 3: add({u".jpg", u".jpe", u".jpeg"}); break;
    case 4: add({u".tif", u".tiff"}); break;
    case 5: add({u".gif"}); break;
    case 6:
      for (int i = 0; i < 4; ++i)
        if (options.SelExt[i] && !options.ExtStr[i].isEmpty())
          patterns << QStringLiteral("*.") + options.ExtStr[i];
      break;
    default:
      for (const char16_t* e : kBuiltInExtensions) patterns << QLatin1Char('*') + QString::fromUtf16(e);
      patterns << options.pluginPatterns;
      break;
  }
  return patterns;
}

bool hasPatternExtension(QStringView name, QStringView pattern) {
  const qsizetype dot = pattern.lastIndexOf(u'.');
  if (dot < 0) return true;  // a pattern without an extension makes no demand
  const qsizetype n = pattern.size() - dot - 1;
  return name.size() > n && name[name.size() - n - 1] == u'.';
}

bool memberPassesFilter(QStringView name, const ListOptions& options) {
  const QStringView extension = extensionOf(name);
  if (extension.isEmpty()) return false;
  if (options.IFmt >= 1 && options.IFmt <= 5) return formatOfExtension(extension) == options.IFmt;
  if (options.IFmt == 6) {
    for (int i = 0; i < 4; ++i)
      if (options.SelExt[i] && !options.ExtStr[i].isEmpty() &&
          sameNameIgnoringAsciiCase(extension.mid(1), options.ExtStr[i]))
        return true;
    return false;
  }
  if (formatOfExtension(extension) != 0) return true;
  const QString starred = QLatin1Char('*') + extension.toString();
  for (const QString& pattern : options.pluginPatterns)
    if (sameNameIgnoringAsciiCase(starred, pattern)) return true;
  return false;
}

SourceKind sourceKindOf(const QString& path) {
  if (QFileInfo(path).isDir()) return SourceKind::Folder;
  const QString name = QFileInfo(path).fileName();
  const QStringView extension = extensionOf(name);
  if (sameNameIgnoringAsciiCase(extension, u".zip")) return SourceKind::Zip;
  // A comic book named ".cbr" is a RAR archive, which only the RAR library reads.
  if (sameNameIgnoringAsciiCase(extension, u".rar") || sameNameIgnoringAsciiCase(extension, u".cbr"))
    return SourceKind::Rar;
  return SourceKind::PluginArchive;
}

QString containerPathFor(const QString& path, const std::function<bool(const QString&)>& pluginAccepts) {
  const SourceKind kind = sourceKindOf(path);
  if (kind == SourceKind::Folder || kind == SourceKind::Zip || kind == SourceKind::Rar) return path;
  if (pluginAccepts && pluginAccepts(path)) return path;
  return folderOfPath(path);
}

void keepListedMembers(std::vector<FileEntry>& members, const ListOptions& options) {
  std::erase_if(members, [&](const FileEntry& member) { return !memberPassesFilter(member.name, options); });
  for (FileEntry& member : members) member.selected = true;
  std::stable_sort(members.begin(), members.end(), entryComesBefore);
}

bool entryComesBefore(const FileEntry& a, const FileEntry& b) {
  if (a.folder.isEmpty() != b.folder.isEmpty()) return a.folder.isEmpty();
  if (!a.folder.isEmpty()) {
    const int byFolder = compareLogical(a.folder, b.folder);
    if (byFolder != 0) return byFolder < 0;
  }
  return compareLogical(a.name, b.name) < 0;
}

QString withThousandsSeparators(uint64_t number) {
  QString digits = QString::number(number);
  for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(','));
  return digits;
}

QString formatSizeInKb(uint64_t kiloBytes) { return withThousandsSeparators(kiloBytes) + QStringLiteral(" KB"); }

QString formatListTime(FileTime time) {
  int64_t seconds = 0, nanoseconds = 0;
  posixFromFileTime(time, seconds, nanoseconds);
  return QDateTime::fromSecsSinceEpoch(seconds).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

bool FileList::setInputPath(const QString& path, const ListOptions& options) {
  if (path.isEmpty() || !QFileInfo::exists(path)) return false;
  kind_ = sourceKindOf(path);
  if (path != inputPath_) {
    inputPath_ = path;
    buildFileList(options);
  }
  return true;
}

void FileList::buildFileList(const ListOptions& options) {
  lastOptions_ = options;
  archiveTime_ = 0;
  watch_.close();
  entries_.clear();
  if (inputPath_.isEmpty()) return;
  kind_ = sourceKindOf(inputPath_);
  if (kind_ == SourceKind::Folder) buildFromFolder(options);
  else buildFromArchive(options);
  std::stable_sort(entries_.begin(), entries_.end(), entryComesBefore);
}

void FileList::buildFromFolder(const ListOptions& options) {
  std::vector<DirectoryItem> items;
  if (!readDirectory(inputPath_, u"*", items)) return;
  const size_t capacity = static_cast<size_t>(
      std::count_if(items.begin(), items.end(), [](const DirectoryItem& i) { return !i.isFolder; }));
  entries_.reserve(capacity);
  // A name that several patterns match (a plug-in declaring a built-in extension) is listed once.
  QSet<QString> listed;
  for (const QString& pattern : searchPatterns(options)) {
    for (const DirectoryItem& item : items) {
      if (entries_.size() >= capacity) break;
      if (item.isFolder || (item.attributes & options.hiddenMask)) continue;
      if (!matchesPattern(item.name, pattern) || !hasPatternExtension(item.name, pattern)) continue;
      if (listed.contains(item.name)) continue;
      listed.insert(item.name);
      FileEntry entry;
      entry.name = item.name;
      entry.size = item.size;
      entry.lastWriteTime = item.lastWriteTime;
      entry.creationTime = item.creationTime;
      entries_.push_back(std::move(entry));
    }
  }
  if (!entries_.empty()) watch_.open(inputPath_);
}

void FileList::buildFromArchive(const ListOptions& options) {
  std::vector<FileEntry> members;
  if (!memberLister_ || !memberLister_(kind_, inputPath_, members)) return;
  keepListedMembers(members, options);
  entries_ = std::move(members);
  FileTimes times;
  if (!entries_.empty() && readFileTimes(inputPath_, times)) archiveTime_ = times.lastWrite;
}

bool FileList::keepInStep() {
  if (inputPath_.isEmpty()) return true;
  bool current = true;
  if (kind_ == SourceKind::Folder) {
    current = !watch_.isOpen() || !watch_.changed();
  } else if (!entries_.empty()) {
    FileTimes times;
    current = readFileTimes(inputPath_, times) && times.lastWrite == archiveTime_;
  }
  if (!current) buildFileList(lastOptions_);
  return current;
}

qsizetype FileList::selectedCount() const {
  return std::count_if(entries_.begin(), entries_.end(), [](const FileEntry& e) { return e.selected; });
}

void FileList::selectOnly(const QStringList& names) {
  for (FileEntry& entry : entries_) {
    entry.selected = std::any_of(names.begin(), names.end(), [&](const QString& name) {
      return sameNameIgnoringAsciiCase(entry.name, name);
    });
  }
}

QString resolveShortcut(const QString& path) { return resolveSymlink(path); }

CommandLinePlan handleCommandLine(const QStringList& arguments, bool SdToCvt, const QString& SdToPath) {
  CommandLinePlan plan;
  if (arguments.isEmpty()) return plan;
  const bool openMode = !SdToCvt || (arguments.size() == 1 && QFileInfo(arguments[0]).isDir());
  if (openMode) {
    plan.mode = CommandLinePlan::Mode::Open;
    if (!QFileInfo::exists(arguments[0])) return plan;
    const QString first = resolveShortcut(arguments[0]);
    if (QFileInfo(first).isDir()) {
      plan.inputPath = first;
    } else {
      plan.inputPath = folderOfPath(first);
      for (const QString& argument : arguments) plan.selectNames << QFileInfo(argument).fileName();
    }
    plan.outputFolder = SdToPath.isEmpty() ? plan.inputPath : SdToPath;
    return plan;
  }
  plan.mode = CommandLinePlan::Mode::Convert;
  for (const QString& argument : arguments)
    if (QFileInfo::exists(argument)) plan.convertPaths << argument;
  plan.outputFolder = !SdToPath.isEmpty()          ? SdToPath
                      : plan.convertPaths.isEmpty() ? QString()
                                                   : folderOfPath(plan.convertPaths.first());
  return plan;
}

}  // namespace velorin
