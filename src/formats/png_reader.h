// PNG reader: every colour type, bit depth and interlace of the format, decoded into an 8-bit
// (palette or grey ramp) or 24-bit (blue, green, red) record.
//
// Samples of 16 bits keep their high byte. Transparency is not kept in the pixels: an alpha
// channel or a tRNS chunk is composited onto a background while reading (the file's bKGD when
// preferFileBackground is set and the file has one, else defaultBackground), and the
// transparency report says which colour now stands for the transparent pixels.
//
// Before each read the caller sets defaultBackground and preferFileBackground. Returns false
// with the reason in reader.status and the record without pixels; on success the record owns
// its pixel block. Chunk CRCs are checked on IHDR, PLTE, IDAT and IEND; a bad CRC on an
// ancillary chunk only drops that chunk.
#pragma once

#include <filesystem>
#include <vector>

#include "formats/input_file.h"

namespace velorin {

struct PngReader : ReaderContext {
  RgbColour defaultBackground{255, 255, 255};
  bool preferFileBackground = false;

  // Transparency report of the last successful read: whether the image had a transparent colour
  // (tRNS) and the colour its transparent pixels hold in the record.
  bool hasTransparency = false;
  RgbColour transparentColour;

  // Facts of the last read, from IHDR and the ancillary chunks.
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitDepth = 0;
  int32_t colourType = 0;
  bool interlace = false;
  int32_t bytesPerPixel = 0;  // the filter distance; 1 below 8 bits
  int32_t outputDepth = 0;    // 8 or 24
  bool paletteSeen = false;
  bool imageDataSeen = false;
  bool backgroundAccepted = false;
  bool transparencyAccepted = false;
  int32_t paletteEntries = 0;
  RgbColour fileBackground;
  RgbColour transparentKey;  // grey images: the key in all three
  uint8_t paletteAlpha[256] = {};
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  bool iccSeen = false;
  std::vector<uint8_t> iccProfile;  // the iCCP profile; empty: none or unusable
};

bool readPngFile(PngReader& reader, const std::filesystem::path& path, ImageRecord& record);
bool readPngMemory(PngReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record);

}  // namespace velorin
