// PNG reader: every colour type, bit depth and interlace, flattened onto a background.
// Returns false with the reason in reader.status.
#pragma once

#include <filesystem>

#include "formats/input_file.h"

namespace velorin {

struct PngReader : ReaderContext {
  RgbColour defaultBackground{255, 255, 255};
  bool preferFileBackground = false;
  // Transparency report of the last successful read.
  bool hasTransparency = false;
  RgbColour transparentColour;
};

bool readPngFile(PngReader& reader, const std::filesystem::path& path, ImageRecord& record);
bool readPngMemory(PngReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record);

}  // namespace velorin
