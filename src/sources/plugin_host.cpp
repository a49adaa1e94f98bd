#include "sources/plugin_host.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/input_file.h"
#include "formats/plugin_dib.h"
#include "platform/shared_library.h"
#include "platform/ascii_case.h"
#include "platform/paths.h"
#include "velorin_spi.h"

namespace velorin {

namespace {

constexpr int kInfoTextBytes = 259;
constexpr size_t kMaxDibInfoBytes = 1064;  // header and 256 palette entries

bool containsFoldingAscii(const QStringList& list, const QString& text) {
  return std::any_of(list.begin(), list.end(), [&](const QString& s) { return sameNameIgnoringAsciiCase(s, text); });
}

int progressCallback(int, int, intptr_t) { return 0; }

// A plug-in loaded for one operation; unloaded when it goes.
class LoadedPlugin {
 public:
  explicit LoadedPlugin(const QString& path) {
    handle_ = openSharedLibrary(path);
    if (!handle_) return;
    info = reinterpret_cast<GetPluginInfoFunction>(sharedLibrarySymbol(handle_, "GetPluginInfo"));
    isSupported = reinterpret_cast<IsSupportedFunction>(sharedLibrarySymbol(handle_, "IsSupported"));
    pictureInfo = reinterpret_cast<GetPictureInfoFunction>(sharedLibrarySymbol(handle_, "GetPictureInfo"));
    picture = reinterpret_cast<GetPictureFunction>(sharedLibrarySymbol(handle_, "GetPicture"));
    archiveInfo = reinterpret_cast<GetArchiveInfoFunction>(sharedLibrarySymbol(handle_, "GetArchiveInfo"));
    file = reinterpret_cast<GetFileFunction>(sharedLibrarySymbol(handle_, "GetFile"));
    configuration = reinterpret_cast<ConfigurationDlgFunction>(sharedLibrarySymbol(handle_, "ConfigurationDlg"));
  }
  ~LoadedPlugin() {
    closeSharedLibrary(handle_);
  }
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;
  bool loaded() const { return handle_ != nullptr; }

  // Text number index, at most kInfoTextBytes bytes; empty when there is none.
  QByteArray text(int index) const {
    if (!info) return {};
    char buffer[kInfoTextBytes + 1] = {};
    if (info(index, buffer, kInfoTextBytes) <= 0) return {};
    return QByteArray(buffer, static_cast<qsizetype>(strnlen(buffer, kInfoTextBytes)));
  }

  PluginKind kind() const {
    if (!info) return kPluginNone;
    char buffer[9] = {};
    if (info(0, buffer, 8) <= 0 || buffer[0] != '0' || buffer[1] != '0') return kPluginNone;
    if (buffer[2] == 'I' && buffer[3] == 'N') return kPluginImage;
    if (buffer[2] == 'A' && buffer[3] == 'M') return kPluginArchive;
    return kPluginNone;
  }

  GetPluginInfoFunction info = nullptr;
  IsSupportedFunction isSupported = nullptr;
  GetPictureInfoFunction pictureInfo = nullptr;
  GetPictureFunction picture = nullptr;
  GetArchiveInfoFunction archiveInfo = nullptr;
  GetFileFunction file = nullptr;
  ConfigurationDlgFunction configuration = nullptr;

 private:
  void* handle_ = nullptr;
};

// Frees a handle a plug-in handed over, whatever happens to the operation.
struct HandleGuard {
  HLOCAL handle = nullptr;
  ~HandleGuard() { spiLocalFree(handle); }
};

bool folderUsable(const PluginHost& host) {
  return !host.pluginFolder.isEmpty() && QFileInfo(host.pluginFolder).isDir();
}

// The plug-in files in search order: "*.spi", then "*.sph".
QStringList pluginFiles(const PluginHost& host) {
  QStringList files;
  const QDir folder(host.pluginFolder);
  for (const char* pattern : {"*.spi", "*.sph"})
    files << folder.entryList({QLatin1String(pattern)}, QDir::Files, QDir::Name);
  return files;
}

// The path as the plug-ins get it: in the locale's character set and whole, since a cut path
// would name another file.
QByteArray pluginPath(const QString& path) { return QFile::encodeName(path); }

// The header buffer of a file; false for files of 4 GiB or more and unreadable ones.
bool readHeader(const QString& path, std::vector<uint8_t>& header, ImageRecord* record) {
  // Only regular files have a size to offer; opening a named pipe would wait for a writer.
  if (!QFileInfo(path).isFile()) return false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const qint64 size = file.size();
  if (size <= 0 || static_cast<uint64_t>(size) >= kMaxBlockSize) return false;
  header.assign(kPluginHeaderBytes, 0);
  if (file.read(reinterpret_cast<char*>(header.data()), kPluginHeaderBytes) <= 0) return false;
  if (record) {
    record->sourceFileSize = static_cast<uint32_t>(size);
    record->sourceFileTime = fileTimeFromUnixMilliseconds(QFileInfo(path).lastModified().toMSecsSinceEpoch());
  }
  return true;
}

std::unique_ptr<LoadedPlugin> findPlugin(PluginHost& host, const QByteArray& name, const uint8_t* header,
                                         PluginKind wanted) {
  if (!folderUsable(host)) return nullptr;
  for (const QString& fileName : pluginFiles(host)) {
    if (containsFoldingAscii(host.disabledPlugins, fileName)) continue;
    auto plugin = std::make_unique<LoadedPlugin>(host.pluginFolder + QLatin1Char('/') + fileName);
    if (!plugin->loaded() || !plugin->isSupported) continue;
    const PluginKind kind = plugin->kind();
    const int result = plugin->isSupported(name.constData(), header);
    if (result != 0) {
      if (kind == wanted) {
        host.headerOffset = 0;
        return plugin;
      }
      continue;
    }
    if (plugin->isSupported(name.constData(), header + kPluginPrefixBytes) != 0 && kind == wanted) {
      host.headerOffset = static_cast<int32_t>(kPluginPrefixBytes);
      return plugin;
    }
  }
  return nullptr;
}

// A file the plug-in recognised but could not decode is a broken picture, not one of an unknown
// format.
Status pictureFailure(int result) {
  if (result == SPI_NO_MEMORY || result == SPI_MEMORY_ERROR) return Status::NoMemory;
  if (result == SPI_FILE_READ_ERROR) return Status::Truncated;
  return Status::BadImage;
}

// The picture itself, once a plug-in has taken the file.
bool admits(const PluginHost& host, int64_t width, int64_t height) {
  return !host.admitPicture || width <= 0 || height <= 0 || host.admitPicture(width, height);
}

bool decodePicture(const PluginHost& host, const LoadedPlugin& plugin, const char* source, intptr_t offsetOrLength,
                   unsigned flag, ImageRecord& record, Status& failure) {
  failure = Status::BadImage;
  uint16_t depth = 0;
  if (plugin.pictureInfo) {
    SpiPictureInfo info{};
    const int result = plugin.pictureInfo(source, offsetOrLength, flag, &info);
    // The text handle is released whatever the result; the depth counts only from a success.
    spiLocalFree(info.hInfo);
    if (result == SPI_SUCCESS && info.colorDepth > 0) depth = static_cast<uint16_t>(info.colorDepth);
    if (result == SPI_SUCCESS && !admits(host, info.width, info.height)) return false;
  }
  if (!plugin.picture) return false;
  HandleGuard infoHandle, bitsHandle;
  const int result = plugin.picture(source, offsetOrLength, flag, &infoHandle.handle, &bitsHandle.handle,
                                    progressCallback, 0);
  if (result != SPI_SUCCESS) {
    failure = pictureFailure(result);
    return false;
  }
  const size_t infoSize = std::min(spiLocalSize(infoHandle.handle), kMaxDibInfoBytes);
  const size_t bitsSize = spiLocalSize(bitsHandle.handle);
  if (bitsSize == 0 || bitsSize >= kMaxBlockSize) return false;
  const auto* info = static_cast<const uint8_t*>(spiLocalLock(infoHandle.handle));
  // Without GetPictureInfo the size is known only now; the host's copy is not made yet.
  if (info && infoSize >= 12 &&
      !admits(host, static_cast<int32_t>(loadLe32(info + 4)), std::abs(int64_t{static_cast<int32_t>(loadLe32(info + 8))})))
    return false;
  if (convertPluginDib(info, infoSize, static_cast<const uint8_t*>(spiLocalLock(bitsHandle.handle)), bitsSize, depth,
                       record) != Status::Ok)
    return false;
  failure = Status::Ok;
  return true;
}

QString fieldText(const char* field, size_t capacity) {
  return QString::fromLocal8Bit(field, static_cast<qsizetype>(strnlen(field, capacity)));
}

}  // namespace

QString defaultPluginFolder() { return shippedPluginFolder(programFolder()); }

QString pluginFolderInUse(const QString& SPI) { return SPI.isEmpty() ? defaultPluginFolder() : SPI; }

bool readImageWithPlugin(PluginHost& host, const QString& path, ImageRecord& record) {
  host.pictureFailure = Status::Ok;
  for (auto& entry : record.palette) entry = {};
  record.pixels.reset();
  if (!folderUsable(host)) return false;
  std::vector<uint8_t> header;
  if (!readHeader(path, header, &record)) return false;
  const QByteArray name = pluginPath(path);
  const auto plugin = findPlugin(host, name, header.data(), kPluginImage);
  return plugin && decodePicture(host, *plugin, name.constData(), host.headerOffset, SPI_SOURCE_FILE, record,
                                 host.pictureFailure);
}

bool readImageWithPlugin(PluginHost& host, const QString& name, const uint8_t* bytes, size_t length,
                         ImageRecord& record) {
  host.pictureFailure = Status::Ok;
  for (auto& entry : record.palette) entry = {};
  record.pixels.reset();
  if (!folderUsable(host) || !bytes || length == 0 || length >= kMaxBlockSize) return false;
  record.sourceFileSize = static_cast<uint32_t>(length);
  // A member shorter than the header buffer is offered zero-padded, so a plug-in that reads its
  // 2048 bytes never reads past the member.
  std::vector<uint8_t> header(kPluginHeaderBytes, 0);
  std::memcpy(header.data(), bytes, std::min(length, kPluginHeaderBytes));
  const QByteArray ansiName = pluginPath(name);
  const auto plugin = findPlugin(host, ansiName, header.data(), kPluginImage);
  return plugin && decodePicture(host, *plugin, reinterpret_cast<const char*>(bytes), static_cast<intptr_t>(length),
                                 SPI_SOURCE_MEMORY, record, host.pictureFailure);
}

bool pluginReadsImage(PluginHost& host, const QString& name, const uint8_t* head, size_t length) {
  if (!folderUsable(host) || !head) return false;
  std::vector<uint8_t> header(kPluginHeaderBytes, 0);
  std::memcpy(header.data(), head, std::min(length, kPluginHeaderBytes));
  return findPlugin(host, pluginPath(name), header.data(), kPluginImage) != nullptr;
}

std::optional<MemberList> listArchiveWithPlugin(PluginHost& host, const QString& archivePath) {
  if (!folderUsable(host)) return std::nullopt;
  std::vector<uint8_t> header;
  if (!readHeader(archivePath, header, nullptr)) return std::nullopt;
  const QByteArray name = pluginPath(archivePath);
  const auto plugin = findPlugin(host, name, header.data(), kPluginArchive);
  if (!plugin || !plugin->archiveInfo) return std::nullopt;
  HandleGuard table;
  plugin->archiveInfo(name.constData(), host.headerOffset, SPI_SOURCE_FILE, &table.handle);
  const size_t count = spiLocalSize(table.handle) / sizeof(SpiFileInfo);
  if (count == 0) return std::nullopt;
  const auto* records = static_cast<const SpiFileInfo*>(spiLocalLock(table.handle));
  MemberList list;
  list.capacity = static_cast<uint32_t>(std::min<size_t>(count, UINT32_MAX));
  list.archiveTime = fileTimeFromUnixMilliseconds(QFileInfo(archivePath).lastModified().toMSecsSinceEpoch());
  static const uint8_t kNoMethod[8] = {};
  for (size_t i = 0; i < count; ++i) {
    SpiFileInfo record;
    std::memcpy(&record, &records[i], sizeof record);  // packed: copy before reading fields
    if (std::memcmp(record.method, kNoMethod, sizeof kNoMethod) == 0) break;
    MemberEntry entry;
    QString folder = fieldText(record.path, sizeof record.path);
    folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    splitMemberPath(folder + fieldText(record.filename, sizeof record.filename), entry);
    entry.position = record.position;
    entry.size = static_cast<uint32_t>(std::min<uint64_t>(record.filesize, UINT32_MAX));
    entry.fileTime = fileTimeFromPosix(record.timestamp, 0);
    list.entries.push_back(std::move(entry));
  }
  if (list.entries.empty()) return std::nullopt;
  return list;
}

bool extractWithPlugin(PluginHost& host, const QString& archivePath, uint64_t position, PixelBuffer& block) {
  block.reset();
  if (!folderUsable(host)) return false;
  std::vector<uint8_t> header;
  if (!readHeader(archivePath, header, nullptr)) return false;
  const QByteArray name = pluginPath(archivePath);
  const auto plugin = findPlugin(host, name, header.data(), kPluginArchive);
  if (!plugin || !plugin->file) return false;
  HandleGuard member;
  const int result = plugin->file(name.constData(), static_cast<intptr_t>(host.headerOffset + position),
                                  reinterpret_cast<char*>(&member.handle), SPI_DEST_MEMORY, progressCallback, 0);
  if (result != SPI_SUCCESS) return false;
  const size_t size = spiLocalSize(member.handle);
  if (size == 0 || size >= kMaxBlockSize || !block.allocate(size)) return false;
  std::memcpy(block.data(), spiLocalLock(member.handle), size);
  return true;
}

bool isPluginArchive(PluginHost& host, const QString& path) {
  if (!folderUsable(host)) return false;
  std::vector<uint8_t> header;
  if (!readHeader(path, header, nullptr)) return false;
  return findPlugin(host, pluginPath(path), header.data(), kPluginArchive) != nullptr;
}

QStringList pluginExtensions(const PluginHost& host, int kindMask, bool wholePatterns) {
  static const QStringList kBuiltIn = {".jpg", ".jpe", ".jpeg", ".png", ".gif", ".bmp", ".tif", ".tiff"};
  QStringList result;
  if (!folderUsable(host)) return result;
  for (const QString& fileName : pluginFiles(host)) {
    if (containsFoldingAscii(host.disabledPlugins, fileName)) continue;
    const LoadedPlugin plugin(host.pluginFolder + QLatin1Char('/') + fileName);
    if (!plugin.loaded() || !(plugin.kind() & kindMask)) continue;
    for (int index = 2;; index += 2) {
      const QByteArray text = plugin.text(index);
      if (text.isEmpty()) break;
      for (const QString& part : QString::fromLocal8Bit(text).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype dot = part.lastIndexOf(QLatin1Char('.'));
        const QString extension = dot < 0 ? part : part.mid(dot);
        if (containsFoldingAscii(kBuiltIn, extension)) continue;
        const QString item = wholePatterns ? part : extension;
        if (!containsFoldingAscii(result, item)) result << item;
      }
    }
  }
  return result;
}

QStringList pluginList(const PluginHost& host) {
  QStringList result;
  if (!folderUsable(host)) return result;
  for (const QString& fileName : pluginFiles(host)) {
    const LoadedPlugin plugin(host.pluginFolder + QLatin1Char('/') + fileName);
    if (plugin.loaded() && plugin.kind() != kPluginNone) result << fileName;
  }
  return result;
}

bool pluginDescription(const PluginHost& host, const QString& fileName, QString& patterns, QString& descriptions) {
  patterns.clear();
  descriptions.clear();
  if (!folderUsable(host)) return false;
  const LoadedPlugin plugin(host.pluginFolder + QLatin1Char('/') + fileName);
  if (!plugin.loaded()) return false;
  QByteArray joinedPatterns = plugin.text(2), joinedDescriptions = plugin.text(3);
  if (joinedPatterns.isEmpty() || joinedDescriptions.isEmpty()) return false;
  for (int index = 4;; index += 2) {
    const QByteArray pattern = plugin.text(index), description = plugin.text(index + 1);
    if (pattern.isEmpty() || description.isEmpty()) break;
    if (joinedPatterns.size() + 1 + pattern.size() > kInfoTextBytes ||
        joinedDescriptions.size() + 1 + description.size() > kInfoTextBytes)
      break;
    joinedPatterns += ';' + pattern;
    joinedDescriptions += '/' + description;
  }
  patterns = QString::fromLocal8Bit(joinedPatterns).left(260);
  descriptions = QString::fromLocal8Bit(joinedDescriptions).left(260);
  return true;
}

void configurePlugin(const PluginHost& host, void* parentWindow, const QString& fileName) {
  if (!folderUsable(host)) return;
  const LoadedPlugin plugin(host.pluginFolder + QLatin1Char('/') + fileName);
  if (plugin.loaded() && plugin.configuration) plugin.configuration(parentWindow, 1);
}

}  // namespace velorin
