// The preview of the file-list page: one entry loaded whole (no pre-scaling) and kept for
// painting until the next preview, a job start, a list rebuild or shutdown.
#pragma once

#include <QString>
#include <QStringList>

#include "engine/file_list.h"
#include "imaging/image.h"
#include "settings/conversion_settings.h"

namespace velorin {

struct PreviewImage {
  qsizetype index = -1;  // the list index of the entry, -1 when none is previewed
  QString name;      // the entry's file name, without any folder
  QString sizeText;  // "640 x 480  24bit"; empty when the entry could not be loaded
  ImageRecord image; // header, palette and pixel block, bottom-up as every reader gives them

  bool loaded() const { return static_cast<bool>(image.pixels); }
  void clear();
};

// What the loader needs beyond the conversion settings.
struct PreviewAccess {
  QString pluginFolder;         // SPI
  QStringList disabledPlugins;  // plug-ins the user switched off
  bool fileBackground = true;   // FileBg
};

// "640 x 480  24bit".
QString previewSizeText(int32_t width, int32_t height, int bitCount);

// Loads entry index of list into preview, releasing the previous pixels first. The name is set
// even when the load fails; false then, with no pixels and no size text.
bool loadPreview(const FileList& list, qsizetype index, const ConversionSettings& settings,
                 const PreviewAccess& access, PreviewImage& preview);

}  // namespace velorin
