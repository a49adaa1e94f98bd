// JPEG reader (libjpeg-turbo). Returns false with the reason in reader.status.
#pragma once

#include <filesystem>

#include "formats/input_file.h"

namespace velorin {

struct JpegReader : ReaderContext {
  // Pre-scaling target set before each load: 0 x 0 decodes at full size.
  int32_t targetWidth = 0;
  int32_t targetHeight = 0;
  // Found by the last successful read.
  bool hasExif = false;
  int32_t orientation = 1;
};

bool readJpegFile(JpegReader& reader, const std::filesystem::path& path, ImageRecord& record);
bool readJpegMemory(JpegReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record);

}  // namespace velorin
