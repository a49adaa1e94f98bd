// GIF reader. Returns false with the reason in reader.status.
#pragma once

#include <filesystem>

#include "formats/input_file.h"

namespace velorin {

struct GifReader : ReaderContext {
  RgbColour defaultBackground{255, 255, 255};
  bool preferFileBackground = false;
  // Transparency of the last successful read: the flag and the transparent palette index.
  bool hasTransparency = false;
  int transparentIndex = -1;
};

bool readGifFile(GifReader& reader, const std::filesystem::path& path, ImageRecord& record);
bool readGifMemory(GifReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record);

}  // namespace velorin
