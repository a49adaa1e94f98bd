#include "engine/preview.h"

#include <QDir>

#include <cstring>

#include "engine/pipeline.h"

namespace velorin {

void PreviewImage::clear() {
  index = -1;
  name.clear();
  sizeText.clear();
  image = ImageRecord{};
}

QString previewSizeText(int32_t width, int32_t height, int bitCount) {
  return QStringLiteral("%1 x %2  %3bit").arg(width).arg(height).arg(bitCount);
}

bool loadPreview(const FileList& list, qsizetype index, const ConversionSettings& settings,
                 const PreviewAccess& access, PreviewImage& preview) {
  preview.clear();
  if (index < 0 || index >= static_cast<qsizetype>(list.entries().size())) return false;
  const FileEntry& entry = list.entries()[static_cast<size_t>(index)];
  preview.index = index;
  preview.name = entry.name;

  // The preview shows the picture as it is: no pre-scaling for a resize.
  ConversionSettings unscaled = settings;
  unscaled.RszOpt = 0;
  std::unique_ptr<JobWorkspace> ws = createJobWorkspace(unscaled);
  if (!ws) return false;
  ws->sourceKind = list.kind();
  ws->archivePath = list.inputPath();
  ws->pluginFolder = access.pluginFolder;
  ws->pluginHost.pluginFolder = access.pluginFolder;
  ws->pluginHost.disabledPlugins = access.disabledPlugins;
  ws->fileBackground = access.fileBackground;

  const bool loaded = list.kind() == SourceKind::Folder
                          ? loadFromPath(*ws, QDir(list.inputPath()).filePath(entry.name))
                          : loadFromEntry(*ws, entry);
  if (!loaded || !ws->image.pixels) return false;
  ImageRecord& image = ws->image;
  preview.image.header = image.header;
  std::memcpy(preview.image.palette, image.palette, sizeof image.palette);
  preview.image.sourceFormat = image.sourceFormat;
  preview.image.pixels = std::move(image.pixels);
  preview.sizeText = previewSizeText(image.header.biWidth, image.header.biHeight, image.header.biBitCount);
  return true;
}

}  // namespace velorin
