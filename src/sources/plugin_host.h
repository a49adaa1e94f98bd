// The plug-in host: image and archive plug-ins (shared objects "*.spi", "*.sph" in the plug-in
// folder, built against plugins/sdk/velorin_spi.h). A plug-in is found for a file by asking each
// one, loaded for one operation and always unloaded before the operation returns.
//
// Every operation first checks that the plug-in folder is an existing directory and does nothing
// otherwise; every failure ends it with nothing (no record, block or list).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

#include "sources/member_list.h"

namespace velorin {

enum PluginKind : int { kPluginNone = 0, kPluginImage = 1, kPluginArchive = 2 };

// The first bytes of a file offered to the plug-ins: 2048 plus a 128-byte prefix some formats
// carry before their signature.
inline constexpr size_t kPluginHeaderBytes = 2176;
inline constexpr size_t kPluginPrefixBytes = 128;

struct PluginHost {
  QString pluginFolder;        // SPI
  QStringList disabledPlugins;  // file names the user switched off
  int32_t headerOffset = 0;     // 0 or 128, for the plug-in found last
  // Why the image plug-in that took the last file failed it; Ok when none took it or it decoded.
  Status pictureFailure = Status::Ok;
  // Asked with a picture's size before its blocks are taken: from GetPictureInfo before the
  // plug-in decodes, and from the plug-in's header before the host copies the picture. False
  // refuses the picture (pictureFailure BadImage). None: every size is taken.
  std::function<bool(int64_t width, int64_t height)> admitPicture = {};
};

// The folder the shipped plug-ins are installed in ("plugins" beside the program in the build tree
// and portable copies, PREFIX/lib/velorin/plugins when installed); empty when there is none.
QString defaultPluginFolder();

// The plug-in folder a job and the plug-in page use: the one the SPI setting names, the shipped
// one while SPI is empty.
QString pluginFolderInUse(const QString& SPI);

// Decodes a file (file route: sourceFileSize and sourceFileTime from the file) or a block in
// memory (an archive member; name is its name) with an image plug-in.
bool readImageWithPlugin(PluginHost& host, const QString& path, ImageRecord& record);
bool readImageWithPlugin(PluginHost& host, const QString& name, const uint8_t* bytes, size_t length,
                         ImageRecord& record);

// An enabled image plug-in recognises a file of this name starting with these bytes (the first
// kPluginHeaderBytes of it, or all of a shorter one).
bool pluginReadsImage(PluginHost& host, const QString& name, const uint8_t* head, size_t length);

// The members an archive plug-in lists, with the archive's last-write time.
std::optional<MemberList> listArchiveWithPlugin(PluginHost& host, const QString& archivePath);

// The member at position, whole; false when no plug-in delivers it or it is empty.
bool extractWithPlugin(PluginHost& host, const QString& archivePath, uint64_t position, PixelBuffer& block);

// An archive plug-in reads this file.
bool isPluginArchive(PluginHost& host, const QString& path);

// Patterns ("*.ppm", wholePatterns) or extensions (".ppm") of the enabled plug-ins whose kind is
// in kindMask (1 image, 2 archive, 3 both), without the formats the program reads itself.
QStringList pluginExtensions(const PluginHost& host, int kindMask, bool wholePatterns);

// File names of the plug-ins of kind 1 or 2 in the folder, for the settings page.
QStringList pluginList(const PluginHost& host);

// Patterns joined by ";" and descriptions joined by "/" of one plug-in file.
bool pluginDescription(const PluginHost& host, const QString& fileName, QString& patterns, QString& descriptions);

// Shows a plug-in's own settings dialog.
void configurePlugin(const PluginHost& host, void* parentWindow, const QString& fileName);

}  // namespace velorin
