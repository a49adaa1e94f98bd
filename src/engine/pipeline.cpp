#include "engine/pipeline.h"

#include <QFile>
#include <QFileInfo>

#include <cstdlib>
#include <cstring>
#include <new>

#include "formats/exif.h"
#include "formats/icc_profile.h"
#include "formats/jpeg_transform.h"
#include "imaging/resample.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/fs_path.h"
#include "sources/plugin_host.h"
#include "sources/zip_reader.h"

namespace velorin {

FileType detectFileType(const uint8_t* d, size_t length) {
  if (length < 8) return FileType::Unreadable;
  if (d[0] == 'B' && d[1] == 'M') return FileType::Bmp;
  static const uint8_t kPng[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  if (std::memcmp(d, kPng, 8) == 0) return FileType::Png;
  if (d[0] == 0xFF && d[1] == 0xD8) return FileType::Jpeg;
  // Only the 0x2A of the fourth byte is tested for big-endian files.
  if ((d[0] == 'I' && d[1] == 'I' && d[2] == 0x2A) || (d[0] == 'M' && d[1] == 'M' && d[3] == 0x2A))
    return FileType::Tiff;
  if (d[0] == 'G' && d[1] == 'I' && d[2] == 'F') return FileType::Gif;
  return FileType::Unknown;
}

FileType detectFileTypeOfPath(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return FileType::Unreadable;
  uint8_t head[8];
  const qint64 got = file.read(reinterpret_cast<char*>(head), 8);
  return got < 8 ? FileType::Unreadable : detectFileType(head, 8);
}

JobPlan prepareJob(const ConversionSettings& s) {
  JobPlan plan;
  plan.naming = s.NameSet == 1   ? NamingRule::ExifDate
                : s.NameSet == 2 ? NamingRule::SerialNumber
                                 : NamingRule::SourceName;
  plan.greyscale = false;
  if (s.JTrans) {
    plan.route = ConversionRoute::LosslessTransform;
    plan.writer = OutputFormat::Jpeg;
    plan.extension = QStringLiteral(".jpg");
    plan.greyscale = s.DepOpt == 6;
    return plan;
  }
  plan.route = ConversionRoute::DecodeProcessEncode;
  // Depth by DepOpt 1..6; 0 marks a depth the format does not offer (the working depth is kept).
  auto depth = [&](std::initializer_list<int32_t> byDepOpt) {
    const int index = s.DepOpt - 1;
    return index >= 0 && index < static_cast<int>(byDepOpt.size()) ? byDepOpt.begin()[index] : 0;
  };
  switch (s.OFmt) {
    case 1:
      plan.writer = OutputFormat::Png;
      plan.extension = QStringLiteral(".png");
      plan.outputDepth = depth({24, 8, 4, 2, 1, 8});
      plan.greyscale = s.DepOpt == 6;
      break;
    case 2:
      plan.writer = OutputFormat::Jpeg;
      plan.extension = QStringLiteral(".jpg");
      plan.greyscale = s.DepOpt == 6;
      break;
    case 3:
      plan.writer = OutputFormat::Tiff;
      plan.extension = QStringLiteral(".tif");
      plan.outputDepth = depth({24, 8, 4, 0, 1, 8});
      plan.greyscale = s.DepOpt == 6;
      break;
    case 4:
      plan.writer = OutputFormat::Gif;
      plan.extension = QStringLiteral(".gif");
      plan.outputDepth = depth({0, 8, 4, 2, 1, 0});
      break;
    default:
      plan.writer = OutputFormat::Bmp;
      plan.extension = QStringLiteral(".bmp");
      plan.outputDepth = depth({24, 8, 4, 0, 1, 0});
      break;
  }
  return plan;
}

namespace {

ProcessingSettings processingSettingsOf(const ConversionSettings& s) {
  ProcessingSettings p;
  p.TurOpt = s.TurOpt;
  p.HgmOpt = s.HgmOpt;
  p.GamOpt = s.GamOpt;
  p.GamVal = s.GamVal;
  p.CrtOpt = s.CrtOpt;
  p.CrtVal = s.CrtVal;
  p.HlsSOpt = s.HlsSOpt;
  p.HlsSVal = s.HlsSVal;
  p.HlsHOpt = s.HlsHOpt;
  p.HlsHVal = s.HlsHVal;
  p.RszOpt = s.RszOpt;
  p.RszSize = s.RszSize;
  p.Round10 = s.Round10;
  p.UsmOpt = s.UsmOpt;
  return p;
}

bool fail(JobWorkspace& ws, const char* stage, Status status) {
  ws.failure = {stage, status, {}};
  return false;
}

// How much of a member is inflated to learn its type and size before the whole is.
constexpr size_t kMemberHeadBytes = 256 * 1024;

// Reserves converting a picture of width x height plus sourceBytes already held for it.
bool reserveConversion(JobWorkspace& ws, int64_t width, int64_t height, int64_t sourceBytes) {
  const int64_t need = conversionEstimate(width, height) + sourceBytes;
  ws.reservedSourceBytes = sourceBytes;
  if (ws.reservation.reserve(need)) return true;
  ws.failure = {"load", Status::BadImage,
                "needs " + byteSizeText(need) + " of memory, more than the memory limit of " +
                    byteSizeText(memoryBudget())};
  return false;
}

// Widens the reservation to a picture of width x height once its size is known, for sources whose
// header gave none or a smaller one (plug-in formats): at once when the budget has room, else by
// waiting as a new reservation would.
bool reserveForPicture(JobWorkspace& ws, int64_t width, int64_t height) {
  const int64_t need = conversionEstimate(width, height) + ws.reservedSourceBytes;
  const int64_t held = ws.reservation.bytes();
  return need <= held || ws.reservation.tryGrow(need - held) ||
         reserveConversion(ws, width, height, ws.reservedSourceBytes);
}

bool reserveForFile(JobWorkspace& ws, const QString& path) {
  FileArchiveSource file;
  int64_t width = 0;
  int64_t height = 0;
  if (file.open(toFsPath(path)))
    headerDimensions([&file](uint64_t offset, uint8_t* out, size_t count) { return file.readAt(offset, out, count); },
                     width, height);
  return reserveConversion(ws, width, height, 0);
}

// The decoder's pre-scaling target for a JPEG about to be loaded.
void setJpegPrescale(JobWorkspace& ws, const uint8_t* bytes, size_t length) {
  const ConversionSettings& s = ws.settings;
  JpegReader& reader = ws.jpegReader;
  reader.targetWidth = reader.targetHeight = 0;
  if (s.RszOpt < 1 || s.RszOpt > 3) return;
  bool quarterTurn = s.TurOpt == 1 || s.TurOpt == 3;
  if (s.TurOpt == 4 && bytes) {
    const int32_t orientation = readExifOrientation(bytes, length);
    quarterTurn = orientation == 6 || orientation == 8;
  }
  const int32_t size = s.RszSize;
  if (s.RszOpt == 3) {
    reader.targetWidth = reader.targetHeight = size;
  } else if ((s.RszOpt == 1) != quarterTurn) {
    reader.targetWidth = size;
    reader.targetHeight = 1;
  } else {
    reader.targetWidth = 1;
    reader.targetHeight = size;
  }
}

// After a successful read: transparency and EXIF facts into the side information.
void takeReaderFacts(JobWorkspace& ws, FileType type, const uint8_t* bytes, size_t length) {
  WorkingImage& image = ws.image;
  if (type == FileType::Png && ws.settings.Trans) {
    image.hasTransparency = ws.pngReader.hasTransparency;
    image.transparentColour = ws.pngReader.transparentColour;
  } else if (type == FileType::Gif && ws.settings.Trans) {
    image.hasTransparency = ws.gifReader.hasTransparency;
    if (ws.gifReader.transparentIndex >= 0 && ws.gifReader.transparentIndex < 256) {
      const RgbQuad& entry = image.palette[ws.gifReader.transparentIndex];
      image.transparentColour = {entry.red, entry.green, entry.blue};
    }
  }
  if (type == FileType::Png) image.iccProfile = std::move(ws.pngReader.iccProfile);
  else if (type == FileType::Tiff) image.iccProfile = std::move(ws.tiffReader.iccProfile);
  else if (type == FileType::Jpeg) image.iccProfile = std::move(ws.jpegReader.iccProfile);
  if (type == FileType::Jpeg) {
    image.hasExif = ws.jpegReader.hasExif;
    image.exifOrientation = ws.jpegReader.orientation;
    if (ws.settings.NameSet == 1 && bytes)
      image.hasExifDateTime = readExifDateTime(bytes, length, image.exifDateTime);
  }
}

void prepareReaders(JobWorkspace& ws) {
  ws.pngReader.defaultBackground = {255, 255, 255};
  ws.pngReader.preferFileBackground = ws.fileBackground;
  ws.gifReader.defaultBackground = {255, 255, 255};
  ws.gifReader.preferFileBackground = ws.fileBackground;
}

// The file route when bytes is null (name is then the path), else the memory route.
bool loadWithPlugins(JobWorkspace& ws, const QString& name, const uint8_t* bytes, size_t length) {
  ws.pluginHost.pluginFolder = ws.pluginFolder;
  return bytes ? readImageWithPlugin(ws.pluginHost, name, bytes, length, ws.image)
               : readImageWithPlugin(ws.pluginHost, name, ws.image);
}

bool pluginFolderSet(const JobWorkspace& ws) {
  return !ws.pluginFolder.isEmpty() && QFileInfo(ws.pluginFolder).isDir();
}

bool decode(JobWorkspace& ws, FileType type, const std::filesystem::path* path,
            const uint8_t* bytes, size_t length) {
  ImageRecord& record = ws.image;
  switch (type) {
    case FileType::Bmp:
      return path ? readBmpFile(ws.bmpReader, *path, record)
                  : readBmpMemory(ws.bmpReader, bytes, length, record);
    case FileType::Png:
      return path ? readPngFile(ws.pngReader, *path, record)
                  : readPngMemory(ws.pngReader, bytes, length, record);
    case FileType::Jpeg:
      return path ? readJpegFile(ws.jpegReader, *path, record)
                  : readJpegMemory(ws.jpegReader, bytes, length, record);
    case FileType::Tiff:
      return path ? readTiffFile(ws.tiffReader, *path, record)
                  : readTiffMemory(ws.tiffReader, bytes, length, record);
    case FileType::Gif:
      return path ? readGifFile(ws.gifReader, *path, record)
                  : readGifMemory(ws.gifReader, bytes, length, record);
    default:
      return false;
  }
}

const std::string& readerDamage(const JobWorkspace& ws, FileType type) {
  switch (type) {
    case FileType::Bmp: return ws.bmpReader.damage;
    case FileType::Png: return ws.pngReader.damage;
    case FileType::Jpeg: return ws.jpegReader.damage;
    case FileType::Tiff: return ws.tiffReader.damage;
    case FileType::Gif: return ws.gifReader.damage;
    default: {
      static const std::string kNone;
      return kNone;
    }
  }
}

Status readerStatus(const JobWorkspace& ws, FileType type) {
  switch (type) {
    case FileType::Bmp: return ws.bmpReader.status;
    case FileType::Png: return ws.pngReader.status;
    case FileType::Jpeg: return ws.jpegReader.status;
    case FileType::Tiff: return ws.tiffReader.status;
    case FileType::Gif: return ws.gifReader.status;
    default: return Status::NotFormat;
  }
}

}  // namespace

namespace {

bool finishLoad(JobWorkspace& ws, FileType type, bool decoded, const QString& name,
                const uint8_t* bytes, size_t length, const std::filesystem::path* path) {
  ws.damage.clear();
  if (decoded) {
    takeReaderFacts(ws, type, bytes, length);
    ws.damage = readerDamage(ws, type);
  } else {
    const Status status = type == FileType::Unknown || type == FileType::Unreadable
                              ? (type == FileType::Unknown ? Status::NotFormat : Status::Truncated)
                              : readerStatus(ws, type);
    ws.pluginHost.pictureFailure = Status::Ok;
    if (!pluginFolderSet(ws) || !loadWithPlugins(ws, name, bytes, length)) {
      // A picture the budget refused keeps the budget's message.
      if (!ws.failure.detail.empty()) return false;
      return fail(ws, "load", ws.pluginHost.pictureFailure != Status::Ok ? ws.pluginHost.pictureFailure : status);
    }
  }
  // The header's estimate may have missed the picture's real size; the rest of the conversion is
  // reserved for what was decoded.
  if (!reserveForPicture(ws, ws.image.header.biWidth, std::abs(int64_t{ws.image.header.biHeight}))) {
    ws.image.pixels.reset();
    return false;
  }
  ws.image.takeWorkingValuesFromHeader();
  return true;
}

}  // namespace

bool loadFromPath(JobWorkspace& ws, const QString& path) {
  ws.failure = {};
  if (!QFileInfo::exists(path)) return fail(ws, "load", Status::Truncated);
  if (!reserveForFile(ws, path)) return false;
  ws.image.resetSideInformation();
  prepareReaders(ws);
  const std::filesystem::path fsPath(toFsPath(path));
  const FileType type = detectFileTypeOfPath(path);
  if (type == FileType::Jpeg) {
    // The orientation decides the pre-scale, so a JPEG's bytes are needed before decoding.
    MappedFile mapped;
    const bool opened = mapped.open(fsPath);
    setJpegPrescale(ws, opened ? mapped.data() : nullptr, mapped.size());
    const bool decoded = opened && readJpegMemory(ws.jpegReader, mapped.data(), mapped.size(), ws.image);
    if (decoded) ws.image.sourceFileTime = mapped.lastWriteTime();
    else if (!opened) ws.jpegReader.status = Status::Truncated;
    return finishLoad(ws, type, decoded, path, mapped.data(), mapped.size(), nullptr);
  }
  const bool decoded = decode(ws, type, &fsPath, nullptr, 0);
  return finishLoad(ws, type, decoded, path, nullptr, 0, &fsPath);
}

namespace {

bool decodeMemory(JobWorkspace& ws, const uint8_t* bytes, size_t length, const QString& name) {
  ws.image.resetSideInformation();
  prepareReaders(ws);
  const FileType type = detectFileType(bytes, length);
  if (type == FileType::Jpeg) setJpegPrescale(ws, bytes, length);
  const bool decoded = decode(ws, type, nullptr, bytes, length);
  return finishLoad(ws, type, decoded, name, bytes, length, nullptr);
}

}  // namespace

bool loadFromMemory(JobWorkspace& ws, const uint8_t* bytes, size_t length, const QString& name) {
  ws.failure = {};
  int64_t width = 0;
  int64_t height = 0;
  headerDimensions(bytes, length, width, height);
  if (!reserveConversion(ws, width, height, 0)) return false;
  return decodeMemory(ws, bytes, length, name);
}

bool extractEntry(JobWorkspace& ws, const FileEntry& entry, PixelBuffer& member) {
  const auto position = static_cast<uint32_t>(entry.memberPosition);
  switch (ws.sourceKind) {
    case SourceKind::Zip: return extractZip(ws.archivePath, position, member);
    case SourceKind::Rar:
      ws.rarContext.pluginFolder = ws.pluginFolder;
      return extractRar(ws.rarContext, ws.archivePath, position, member);
    case SourceKind::PluginArchive:
      ws.pluginHost.pluginFolder = ws.pluginFolder;
      return extractWithPlugin(ws.pluginHost, ws.archivePath, static_cast<uint64_t>(entry.memberPosition), member);
    default: return false;
  }
}

namespace {

// Extracts a member inside a reservation of its conversion's whole estimate.
bool extractReserved(JobWorkspace& ws, const FileEntry& entry, PixelBuffer& member) {
  int64_t width = 0;
  int64_t height = 0;
  if (ws.sourceKind == SourceKind::Zip) {
    // The head tells the type and the picture's size; a member no reader or plug-in takes is
    // refused before the rest of it is inflated.
    ZipMemberHead head;
    if (!peekZip(ws.archivePath, static_cast<uint32_t>(entry.memberPosition), kMemberHeadBytes, head))
      return fail(ws, "load", Status::Truncated);
    const FileType type = detectFileType(head.bytes.data(), head.bytes.size());
    if (type == FileType::Unknown || type == FileType::Unreadable) {
      ws.pluginHost.pluginFolder = ws.pluginFolder;
      if (!pluginFolderSet(ws) || !pluginReadsImage(ws.pluginHost, entry.name, head.bytes.data(), head.bytes.size()))
        return fail(ws, "load", type == FileType::Unknown ? Status::NotFormat : Status::Truncated);
    }
    headerDimensions(head.bytes.data(), head.bytes.size(), width, height);
    const auto held = static_cast<int64_t>(head.compressedSize + head.uncompressedSize);
    if (!reserveConversion(ws, width, height, held)) return false;
    return extractEntry(ws, entry, member) || fail(ws, "load", Status::Truncated);
  }
  // Other archives deliver a member only whole: its declared size is reserved first and the rest
  // of the estimate taken without waiting, or everything given back and reserved again at once.
  if (!reserveConversion(ws, 0, 0, static_cast<int64_t>(std::min<uint64_t>(entry.size, INT64_MAX / 2))))
    return false;
  if (!extractEntry(ws, entry, member)) return fail(ws, "load", Status::Truncated);
  headerDimensions(member.data(), member.size(), width, height);
  const auto memberBytes = static_cast<int64_t>(member.size());
  if (ws.reservation.tryGrow(conversionEstimate(width, height) + memberBytes - ws.reservation.bytes()))
    return true;
  member.reset();
  if (!reserveConversion(ws, width, height, memberBytes)) return false;
  return extractEntry(ws, entry, member) || fail(ws, "load", Status::Truncated);
}

}  // namespace

bool loadFromEntry(JobWorkspace& ws, const FileEntry& entry) {
  ws.failure = {};
  // The member is extracted whole, read from memory, and its block released on every path.
  PixelBuffer member;
  if (!extractReserved(ws, entry, member)) return false;
  if (!decodeMemory(ws, member.data(), member.size(), entry.name)) return false;
  ws.image.sourceFileTime = entry.lastWriteTime;
  return true;
}

std::unique_ptr<JobWorkspace> createJobWorkspace(const ConversionSettings& settings) {
  std::unique_ptr<JobWorkspace> ws(new (std::nothrow) JobWorkspace);
  if (!ws) return nullptr;
  ws->settings = settings;
  ws->plan = prepareJob(settings);
  ws->temporaryFolder = temporaryFolder();
  JobWorkspace* workspace = ws.get();
  ws->pluginHost.admitPicture = [workspace](int64_t width, int64_t height) {
    return reserveForPicture(*workspace, width, height);
  };
  if (!buildProcessingTables(ws->tables, processingSettingsOf(settings))) return nullptr;
  return ws;
}

namespace {

// Size, depths and dither of a writer's converter from the working values.
void setConverter(DepthConverter& c, const WorkingImage& image, int32_t targetBits, bool dither) {
  c.width = image.workWidth;
  c.height = image.workHeight;
  setDepthConversion(c, image.workBitCount, targetBits);
  c.dither = dither;
}

// The comment text in the locale's character set, or empty when no comment is asked for.
std::string commentText(const ConversionSettings& s, size_t maxBytes) {
  if (!s.CmtOpt || s.CmtStr1.isEmpty()) return {};
  std::string text = s.CmtStr1.toLocal8Bit().toStdString();
  text.resize(characterBoundary(text, maxBytes));
  return text;
}

// The profile a colour output carries: the source's, when it describes RGB data (a grey or CMYK
// profile would misdescribe the converted pixels).
std::vector<uint8_t> outputProfile(const JobWorkspace& ws) {
  if (ws.plan.greyscale || !isRgbIccProfile(ws.image.iccProfile)) return {};
  return ws.image.iccProfile;
}

// Whether the processing chain turned the pixels, so that the copied EXIF orientation no longer
// applies to them.
bool chainTurned(const ConversionSettings& s, int32_t orientation) {
  if (s.TurOpt >= 1 && s.TurOpt <= 3) return true;
  return s.TurOpt == 4 && (orientation == 3 || orientation == 6 || orientation == 8);
}

// The bytes of a source: the file mapped, or an archive member extracted whole.
class SourceBytes {
 public:
  bool open(JobWorkspace& ws, const FileEntry* entry, const QString& sourcePath) {
    if (ws.sourceKind != SourceKind::Folder && entry) return extractEntry(ws, *entry, member_);
    return file_.open(toFsPath(sourcePath));
  }
  // open, inside a reservation of the conversion's estimate; the failure is set when false.
  bool openReserved(JobWorkspace& ws, const FileEntry* entry, const QString& sourcePath) {
    if (ws.sourceKind != SourceKind::Folder && entry) return extractReserved(ws, *entry, member_);
    if (!reserveForFile(ws, sourcePath)) return false;
    return file_.open(toFsPath(sourcePath)) ||
           fail(ws, "load", Status::Truncated);
  }
  const uint8_t* data() const { return member_ ? member_.data() : file_.data(); }
  size_t size() const { return member_ ? member_.size() : file_.size(); }
  void close() {
    member_.reset();
    file_.close();
  }

 private:
  MappedFile file_;
  PixelBuffer member_;
};

// The source's EXIF payload and its XMP and IPTC copies, read again from the source (the loader
// does not keep its bytes; a member is extracted again). The XMP orientation and size are made
// to agree with the output.
bool takeSourceMetadata(JobWorkspace& ws, const FileEntry* entry, const QString& sourcePath,
                        bool resetOrientation, JpegWriter& writer) {
  SourceBytes source;
  if (!source.open(ws, entry, sourcePath)) return false;
  if (!takeExifCopy(source.data(), source.size(), resetOrientation, writer.exif)) return false;
  if (takeXmpCopy(source.data(), source.size(), writer.xmp))
    adjustXmpPacket(writer.xmp, resetOrientation, static_cast<uint32_t>(writer.width),
                    static_cast<uint32_t>(writer.height));
  takeIptcCopy(source.data(), source.size(), writer.iptc);
  return true;
}

}  // namespace

bool readInputExifDate(JobWorkspace& ws, const FileEntry* entry, const QString& sourcePath,
                       char (&dateTime)[20]) {
  SourceBytes source;
  if (!source.open(ws, entry, sourcePath)) return false;
  if (detectFileType(source.data(), source.size()) != FileType::Jpeg) return false;
  return readExifDateTime(source.data(), source.size(), dateTime);
}

namespace {

// The written file's EXIF thumbnail made again from the working image: at most 160 pixels on the
// longer side.
void regenerateThumbnail(const JobWorkspace& ws, const std::filesystem::path& path) {
  const WorkingImage& image = ws.image;
  ThumbnailImage thumbnail;
  thumbnail.xPelsPerMeter = image.workXPelsPerMeter;
  thumbnail.yPelsPerMeter = image.workYPelsPerMeter;
  thumbnail.greyscale = ws.plan.greyscale;
  thumbnail.dither = ws.settings.Dither;
  if (image.workWidth <= 160 && image.workHeight <= 160) {
    thumbnail.width = image.workWidth;
    thumbnail.height = image.workHeight;
    thumbnail.bitCount = image.workBitCount;
    thumbnail.palette = image.palette;
    thumbnail.pixels = image.pixels.data();
    regenerateExifThumbnail(path, thumbnail);
    return;
  }
  int32_t width = 0;
  int32_t height = 0;
  const PixelBuffer reduced = makeThumbnail(image, width, height);
  if (!reduced) return;  // the file stands with the source's thumbnail
  thumbnail.width = width;
  thumbnail.height = height;
  thumbnail.bitCount = 24;
  thumbnail.pixels = reduced.data();
  regenerateExifThumbnail(path, thumbnail);
}

bool writeJpegOutput(JobWorkspace& ws, const std::filesystem::path& path, const FileEntry* entry,
                     const QString& sourcePath) {
  const ConversionSettings& s = ws.settings;
  const WorkingImage& image = ws.image;
  JpegWriter& w = ws.jpegWriter;
  setupJpegWriter(w, image.workWidth, image.workHeight, image.workBitCount);
  setJpegWriterOptions(w, s.Quality, s.Sampling, ws.plan.greyscale, s.Progressive);
  w.xPelsPerMeter = image.workXPelsPerMeter;
  w.yPelsPerMeter = image.workYPelsPerMeter;
  w.converter.dither = s.Dither;
  // Orientation 1 only when the pixels were turned; otherwise the source's value still holds.
  const bool copyExif = image.hasExif && s.CopyExif &&
                        takeSourceMetadata(ws, entry, sourcePath,
                                           chainTurned(s, image.exifOrientation), w);
  w.comment = commentText(s, 4095);
  w.iccProfile = outputProfile(ws);
  const bool ok = s.Limit ? writeJpegWithLimit(w, path, image.palette, image.pixels.data(),
                                               static_cast<uint32_t>(s.LmtVal))
                          : writeJpeg(w, path, image.palette, image.pixels.data());
  w.comment.clear();
  if (!ok) return fail(ws, "write", w.status);
  if (copyExif) regenerateThumbnail(ws, path);
  return true;
}

bool writeOutput(JobWorkspace& ws, const std::filesystem::path& path, const FileEntry* entry,
                 const QString& sourcePath) {
  const ConversionSettings& s = ws.settings;
  const WorkingImage& image = ws.image;
  const JobPlan& plan = ws.plan;
  const int32_t target = s.DepOpt != 0 && plan.outputDepth != 0 ? plan.outputDepth : image.workBitCount;
  // Transparency is kept only when the target depth can hold the source's colours.
  auto keepsTransparency = [&](int32_t bits) {
    return image.hasTransparency && static_cast<uint32_t>(bits) >= image.sourceBitCount;
  };
  switch (plan.writer) {
    case OutputFormat::Bmp: {
      BmpWriter& w = ws.bmpWriter;
      setConverter(w.converter, image, target, s.Dither);
      w.xPelsPerMeter = image.workXPelsPerMeter;
      w.yPelsPerMeter = image.workYPelsPerMeter;
      if (writeBmp(w, path, image.palette, image.pixels.data())) return true;
      return fail(ws, "write", w.status);
    }
    case OutputFormat::Png: {
      PngWriter& w = ws.pngWriter;
      setConverter(w.converter, image, target, s.Dither);
      w.level = s.Level > 9 ? 9 : s.Level;
      w.interlace = s.Interlace;
      w.greyscale = plan.greyscale;
      w.xPelsPerMeter = image.workXPelsPerMeter;
      w.yPelsPerMeter = image.workYPelsPerMeter;
      w.hasTransparency = keepsTransparency(target);
      w.transparentColour = image.transparentColour;
      w.comment = commentText(s, 4096);
      w.iccProfile = outputProfile(ws);
      if (writePng(w, path, image.palette, image.pixels.data())) return true;
      return fail(ws, "write", w.status);
    }
    case OutputFormat::Jpeg:
      return writeJpegOutput(ws, path, entry, sourcePath);
    case OutputFormat::Tiff: {
      TiffWriter& w = ws.tiffWriter;
      setConverter(w.converter, image, target, s.Dither);
      w.greyscale = plan.greyscale;
      w.xPelsPerMeter = image.workXPelsPerMeter;
      w.yPelsPerMeter = image.workYPelsPerMeter;
      w.iccProfile = outputProfile(ws);
      if (writeTiff(w, path, image.palette, image.pixels.data())) return true;
      return fail(ws, "write", w.status);
    }
    case OutputFormat::Gif: {
      GifWriter& w = ws.gifWriter;
      const int32_t gifTarget = s.DepOpt != 0 && plan.outputDepth != 0 ? plan.outputDepth : 8;
      setConverter(w.converter, image, gifTarget, s.Dither);
      w.interlace = s.Interlace;
      w.hasTransparency = keepsTransparency(gifTarget);
      w.transparentColour = image.transparentColour;
      if (writeGif(w, path, image.palette, image.pixels.data())) return true;
      return fail(ws, "write", w.status);
    }
  }
  return fail(ws, "write", Status::CannotWrite);
}

bool convertLossless(JobWorkspace& ws, const FileEntry* entry, const QString& sourcePath,
                     PendingFile& result) {
  ws.failure = {};
  const ConversionSettings& s = ws.settings;
  WorkingImage& image = ws.image;
  image.hasExif = false;
  image.exifOrientation = 1;
  image.hasExifDateTime = false;
  SourceBytes source;
  if (!source.openReserved(ws, entry, sourcePath)) return false;
  if (s.TurOpt != 0) image.exifOrientation = readExifOrientation(source.data(), source.size());
  int32_t rotation = 0;
  if (s.TurOpt >= 1 && s.TurOpt <= 3) {
    rotation = s.TurOpt;
  } else if (s.TurOpt == 4) {
    rotation = image.exifOrientation == 6 ? 1 : image.exifOrientation == 3 ? 2
             : image.exifOrientation == 8 ? 3 : 0;
  }
  JpegTransform transform;
  setJpegTransformRequest(transform, rotation, ws.plan.greyscale, s.Marker, s.Progressive);
  PendingFile temporary;
  if (!temporary.create(ws.temporaryFolder)) return fail(ws, "temporary file", Status::CannotCreate);
  const std::filesystem::path output(toFsPath(temporary.path()));
  if (!transformJpeg(transform, source.data(), source.size(), output))
    return fail(ws, "lossless transform", transform.status);
  ws.damage = transform.damage;
  // The transform saw the source's components, so it knows whether greyscale changed colours.
  const bool turned = transform.transform != kTransformNone;
  const bool madeGrey = transform.forceGreyscale && transform.sourceIsColour;
  if (s.Marker == 2 && (turned || madeGrey)) transformExifThumbnail(output, transform);
  if (s.NameSet == 1)
    image.hasExifDateTime = readExifDateTime(source.data(), source.size(), image.exifDateTime);
  image.workWidth = static_cast<int32_t>(transform.outputWidth);
  image.workHeight = static_cast<int32_t>(transform.outputHeight);
  source.close();

  const std::string comment = commentText(s, 4095);
  if (!comment.empty()) {
    // The comment goes in while the result is written again from a copy of itself; without a
    // copy the result stands without the comment.
    PendingFile copy;
    if (copy.create(ws.temporaryFolder) && copyFileContents(temporary.path(), copy.path())) {
      MappedFile copied;
      Status status = Status::Ok;
      const bool inserted =
          copied.open(toFsPath(copy.path())) &&
          insertJpegComment(copied.data(), copied.size(), output, comment, status);
      if (!inserted) return fail(ws, "comment", status == Status::Ok ? Status::Truncated : status);
    }
  }
  result = std::move(temporary);
  return true;
}

}  // namespace

std::string failureText(const FailureReason& failure) {
  return std::string(failure.stage) + " failed: " +
         (failure.detail.empty() ? std::string(statusText(failure.status)) : failure.detail);
}

bool convertFile(JobWorkspace& ws, const FileEntry* entry, const QString& sourcePath, PendingFile& result) {
  result.discard();
  ws.damage.clear();
  // Declared first, so the share is given back after every block of the conversion.
  struct ReleaseAtEnd {
    MemoryReservation& reservation;
    ~ReleaseAtEnd() { reservation.release(); }
  } releaseAtEnd{ws.reservation};
  if (ws.plan.route == ConversionRoute::LosslessTransform) return convertLossless(ws, entry, sourcePath, result);

  const bool fromArchive = ws.sourceKind != SourceKind::Folder && entry;
  if (!(fromArchive ? loadFromEntry(ws, *entry) : loadFromPath(ws, sourcePath))) return false;

  PendingFile temporary;
  bool ok = temporary.create(ws.temporaryFolder);
  if (!ok) fail(ws, "temporary file", Status::CannotCreate);
  if (ok && !processImage(ws.image, ws.tables)) ok = fail(ws, "processing", Status::NoMemory);
  if (ok)
    ok = writeOutput(ws, toFsPath(temporary.path()), entry,
                     sourcePath);
  ws.image.pixels.reset();
  if (ok) result = std::move(temporary);
  return ok;
}

}  // namespace velorin
