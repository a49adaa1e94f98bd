#include "sources/rar_archive.h"
#include "platform/shared_library.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/paths.h"

namespace velorin {

namespace {

// The library files in search order: a library the user put into the plug-in folder, the one the
// program ships when the plug-in folder is the shipped one, a library beside the program, the
// system's, and last the shipped one wherever the program's files are (beside it in the build tree
// or a portable copy, else PREFIX/lib[/triplet]/velorin/plugins), whatever the plug-in folder is.
QStringList candidateFiles(const QString& pluginFolder) {
  const QString name = QLatin1String(kUnrarLibraryName);
  const QString shippedName = QLatin1String(kShippedUnrarLibraryName);
  QStringList files;
  if (!pluginFolder.isEmpty())
    files << pluginFolder + QLatin1Char('/') + name << pluginFolder + QLatin1Char('/') + shippedName;
  const QString program = programFolder();
  files << program + QLatin1Char('/') + name << name;
  for (const QString& folder : programFileFolders(program, ProgramFiles::Library)) {
    const QString shipped = folder + QStringLiteral("/plugins/") + shippedName;
    if (!files.contains(shipped)) files << shipped;
  }
  return files;
}

int rarCallback(unsigned int message, long userData, long p1, long p2) {
  auto* context = reinterpret_cast<RarContext*>(userData);
  switch (message) {
    case UCM_PROCESSDATA: {
      if (!context->extracting) return 0;
      const auto* bytes = reinterpret_cast<const uint8_t*>(p1);
      // Data beyond the announced size abandons the member rather than overrun the block.
      if (p2 < 0 || p2 > context->blockEnd - context->writePosition) return -1;
      if (p2 > 0) std::memcpy(context->writePosition, bytes, static_cast<size_t>(p2));
      context->writePosition += p2;
      return 0;
    }
    case UCM_CHANGEVOLUMEW:
      return p2 == RAR_VOL_ASK ? -1 : 0;  // a missing volume cannot be supplied
    case UCM_NEEDPASSWORDW: {
      auto* buffer = reinterpret_cast<wchar_t*>(p1);
      if (!buffer || p2 <= 0) return -1;
      if (!context->passwordGiven) {
        QString typed = context->password;
        if (!context->askPassword || !context->askPassword(typed)) return -1;
        context->password = typed.left(260);
      }
      const std::wstring wide = context->password.toStdWString();
      const size_t length = std::min(wide.size(), static_cast<size_t>(p2 - 1));
      std::copy(wide.begin(), wide.begin() + static_cast<std::ptrdiff_t>(length), buffer);
      buffer[length] = 0;
      context->passwordGiven = true;
      return 0;
    }
    default:
      return 0;
  }
}

// An archive handle that closes itself.
class OpenedArchive {
 public:
  OpenedArchive(const RarLibrary& library, const QString& path, unsigned mode, RarContext* context)
      : library_(library) {
    std::wstring name = path.toStdWString();
    RAROpenArchiveDataEx data{};
    data.ArcNameW = name.data();
    data.OpenMode = mode;
    data.Callback = context ? rarCallback : nullptr;
    data.UserData = reinterpret_cast<long>(context);
    handle_ = library.openArchive(&data);
    if (handle_ && data.OpenResult != ERAR_SUCCESS) close();
    flags_ = data.Flags;
  }
  ~OpenedArchive() { close(); }
  void close() {
    if (handle_) library_.closeArchive(handle_);
    handle_ = nullptr;
  }
  void* handle() const { return handle_; }
  unsigned flags() const { return flags_; }
  // The handle, which the caller now closes.
  void* release() { return std::exchange(handle_, nullptr); }

 private:
  const RarLibrary& library_;
  void* handle_ = nullptr;
  unsigned flags_ = 0;
};

void clearComment(RARHeaderDataEx& header) {
  header.CmtBuf = nullptr;
  header.CmtBufSize = 0;
}

// The archive to open for a set member: its first volume when the name says it is a later one.
QString openingName(const RarLibrary& library, const QString& archivePath) {
  return probeRar(library, archivePath) == 2 ? firstRarVolume(archivePath) : archivePath;
}

}  // namespace

RarLibrary& RarLibrary::operator=(RarLibrary&& other) noexcept {
  if (this != &other) {
    unload();
    std::swap(handle_, other.handle_);
    std::swap(openArchive, other.openArchive);
    std::swap(closeArchive, other.closeArchive);
    std::swap(readHeader, other.readHeader);
    std::swap(processFile, other.processFile);
  }
  return *this;
}

bool RarLibrary::load(const QString& file) {
  handle_ = openSharedLibrary(file);
  if (!handle_) return false;
  openArchive = reinterpret_cast<RAROpenArchiveExFunction>(sharedLibrarySymbol(handle_, "RAROpenArchiveEx"));
  closeArchive = reinterpret_cast<RARCloseArchiveFunction>(sharedLibrarySymbol(handle_, "RARCloseArchive"));
  readHeader = reinterpret_cast<RARReadHeaderExFunction>(sharedLibrarySymbol(handle_, "RARReadHeaderEx"));
  processFile = reinterpret_cast<RARProcessFileWFunction>(sharedLibrarySymbol(handle_, "RARProcessFileW"));
  if (openArchive && closeArchive && readHeader && processFile) return true;
  unload();
  return false;
}

bool RarLibrary::bind(const QString& pluginFolder) {
  unload();
  for (const QString& file : candidateFiles(pluginFolder))
    if (load(file)) return true;
  return false;
}

void RarLibrary::unload() {
  closeSharedLibrary(handle_);
  handle_ = nullptr;
  openArchive = nullptr;
  closeArchive = nullptr;
  readHeader = nullptr;
  processFile = nullptr;
}

bool rarAvailable(const QString& pluginFolder) {
  for (const QString& file : candidateFiles(pluginFolder))
    if (file.contains(QLatin1Char('/')) && QFileInfo(file).isFile()) return true;
  // The bare name: the folders the system's library search looks in.
  QStringList folders = QString::fromLocal8Bit(qgetenv("LD_LIBRARY_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
  folders << QStringLiteral("/usr/local/lib") << QStringLiteral("/usr/lib/x86_64-linux-gnu")
          << QStringLiteral("/usr/lib64") << QStringLiteral("/usr/lib") << QStringLiteral("/lib");
  for (const QString& folder : folders)
    if (QFileInfo(folder + QLatin1Char('/') + QLatin1String(kUnrarLibraryName)).isFile()) return true;
  return false;
}

int probeRar(const RarLibrary& library, const QString& archivePath) {
  if (!library.bound()) return -1;
  OpenedArchive archive(library, archivePath, RAR_OM_LIST, nullptr);
  if (!archive.handle()) return -1;
  const unsigned flags = archive.flags();
  if (!(flags & ROADF_VOLUME)) return 0;
  if (!(flags & ROADF_NEWNUMBERING)) return 1;
  return (flags & ROADF_FIRSTVOLUME) ? 3 : 2;
}

QString firstRarVolume(const QString& volumePath) {
  QString name = volumePath;
  qsizetype digits = 0;
  for (int cut = 0; cut < 2; ++cut) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || name.indexOf(QLatin1Char('/'), dot) >= 0) continue;
    if (cut == 1) {
      const QString part = name.mid(dot + 1);
      if (part.startsWith(QLatin1String("part"), Qt::CaseInsensitive)) digits = part.size() - 4;
    }
    name.truncate(dot);
  }
  const QString first = name + QStringLiteral(".part1.rar");
  // Sets numbered with leading zeros ("part01", "part0001") start at that width.
  if (digits > 1 && !QFileInfo::exists(first))
    return name + QStringLiteral(".part") + QStringLiteral("1").rightJustified(digits, QLatin1Char('0')) +
           QStringLiteral(".rar");
  return first;
}

std::optional<MemberList> listRar(const QString& archivePath, const QString& pluginFolder,
                                  const PasswordPrompt& askPassword) {
  RarLibrary library;
  if (!library.bind(pluginFolder)) return std::nullopt;
  auto context = std::make_unique<RarContext>();
  context->busy = true;
  context->askPassword = askPassword;
  context->pluginFolder = pluginFolder;
  const QString name = openingName(library, archivePath);
  auto header = std::make_unique<RARHeaderDataEx>();

  uint32_t count = 0;
  {
    OpenedArchive archive(library, name, RAR_OM_LIST, context.get());
    if (!archive.handle()) return std::nullopt;
    *header = {};
    clearComment(*header);
    while (library.readHeader(archive.handle(), header.get()) == ERAR_SUCCESS) {
      ++count;
      if (library.processFile(archive.handle(), RAR_SKIP, nullptr, nullptr) != ERAR_SUCCESS) return std::nullopt;
    }
    if (count == 0) return std::nullopt;
  }

  MemberList list;
  list.capacity = count;
  list.archiveTime = fileTimeFromUnixMilliseconds(QFileInfo(archivePath).lastModified().toMSecsSinceEpoch());
  list.entries.reserve(count);
  OpenedArchive archive(library, name, RAR_OM_LIST, context.get());
  if (!archive.handle()) return std::nullopt;
  *header = {};
  clearComment(*header);
  for (uint32_t index = 0; index < count; ++index) {
    if (library.readHeader(archive.handle(), header.get()) != ERAR_SUCCESS) break;
    header->FileNameW[1023] = 0;
    MemberEntry entry;
    splitMemberPath(QString::fromWCharArray(header->FileNameW), entry);
    entry.position = index;
    entry.size = header->UnpSize;
    entry.fileTime = dosTimeToFileTime(static_cast<uint16_t>(header->FileTime >> 16),
                                       static_cast<uint16_t>(header->FileTime));
    list.entries.push_back(std::move(entry));
    if (library.processFile(archive.handle(), RAR_SKIP, nullptr, nullptr) != ERAR_SUCCESS) return std::nullopt;
  }
  return list;
}

void KeptRarArchive::close() {
  if (handle && closeArchive) closeArchive(handle);
  handle = nullptr;
  closeArchive = nullptr;
  path.clear();
  nextIndex = 0;
}

namespace {

// Reads headers from the archive's current position up to the member at index and extracts it
// into block; the archive is left after that member. False when the member is not reached or
// not delivered whole.
bool extractFromOpenArchive(const RarLibrary& library, void* archive, RarContext& context,
                            uint32_t& position, uint32_t index, PixelBuffer& block) {
  auto header = std::make_unique<RARHeaderDataEx>();
  clearComment(*header);
  while (library.readHeader(archive, header.get()) == ERAR_SUCCESS) {
    const uint32_t at = position++;
    if (at < index) {
      // In a solid archive the library decodes what it skips: later members depend on it.
      if (library.processFile(archive, RAR_SKIP, nullptr, nullptr) != ERAR_SUCCESS) return false;
      continue;
    }
    if (header->UnpSizeHigh != 0 || !block.allocate(header->UnpSize)) return false;
    context.writePosition = block.data();
    context.blockEnd = block.data() + block.size();
    // A member that delivers less than it announced is damaged, not padded with zeros.
    return library.processFile(archive, RAR_TEST, nullptr, nullptr) == ERAR_SUCCESS &&
           context.writePosition == context.blockEnd;
  }
  return false;
}

}  // namespace

bool extractRar(RarContext& context, const QString& archivePath, uint32_t index, PixelBuffer& block) {
  block.reset();
  context.busy = true;
  context.extracting = true;
  bool delivered = false;
  if (context.keptLibrary.bound()) {
    const RarLibrary& library = context.keptLibrary;
    KeptRarArchive& kept = context.keptArchive;
    // Only forward: an earlier member, or another archive, needs a fresh pass.
    if (kept.handle && (kept.path != archivePath || kept.nextIndex > index)) kept.close();
    if (!kept.handle) {
      OpenedArchive opened(library, openingName(library, archivePath), RAR_OM_EXTRACT, &context);
      kept.handle = opened.release();
      kept.closeArchive = library.closeArchive;
      kept.path = archivePath;
      kept.nextIndex = 0;
    }
    if (kept.handle) delivered = extractFromOpenArchive(library, kept.handle, context, kept.nextIndex, index, block);
    // After a failure the library's position is unknown.
    if (!delivered) kept.close();
  } else {
    RarLibrary ownLibrary;
    if (ownLibrary.bind(context.pluginFolder)) {
      OpenedArchive archive(ownLibrary, openingName(ownLibrary, archivePath), RAR_OM_EXTRACT, &context);
      uint32_t position = 0;
      if (archive.handle()) delivered = extractFromOpenArchive(ownLibrary, archive.handle(), context, position, index, block);
    }
  }
  if (!delivered) block.reset();
  context.writePosition = context.blockEnd = nullptr;
  context.extracting = false;
  context.busy = false;
  return delivered;
}

bool keepRarLibrary(RarContext& context) {
  return context.keptLibrary.bound() || context.keptLibrary.bind(context.pluginFolder);
}

void releaseRarLibrary(RarContext& context) {
  context.keptArchive.close();
  context.keptLibrary.unload();
}

}  // namespace velorin
