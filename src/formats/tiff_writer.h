// TIFF writer: a little-endian, uncompressed baseline TIFF with one IFD and one strip.
//
// The target bit count of the converter picks the layout: 1 bilevel (BlackIsZero, 11 entries,
// strip at 162), 4 a 16-colour palette (strip at 270), 8 a 256-colour palette (strip at 1710)
// or, with `greyscale`, 256 greys (strip at 162), 24 RGB (12 entries, strip at 180). Rows are
// stored top row first without padding; resolution is written in dots per inch as
// (pels per metre x 254) / 10000.
//
// Before writeTiff the caller sets converter.width/height, calls setDepthConversion(converter,
// working bits, target bits), and sets converter.dither, `greyscale` and the resolution.
// Returns false with the reason in writer.status: CannotCreate when the file cannot be created
// or the depth or size cannot be written, NoMemory, CannotWrite when the conversion fails or
// writing the file fails. A created file is then left behind for the caller to delete.
#pragma once

#include <filesystem>
#include <vector>

#include "imaging/depth_converter.h"
#include "imaging/image.h"

namespace velorin {

struct TiffWriter {
  Status status = Status::Ok;
  DepthConverter converter;  // width, height, depths and dither set by the caller
  bool greyscale = false;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  // An RGB profile, written as tag 34675 after the strip for RGB and palette layouts (one more
  // entry, so every offset above moves by 12); empty: none.
  std::vector<uint8_t> iccProfile;

  // Decided per call from the converter and `greyscale`.
  int32_t photometric = 0;         // 1 BlackIsZero, 2 RGB, 3 Palette
  int32_t entryCount = 0;          // 11 or 12
  int32_t colorMapCount = 0;       // 48 or 768 for Palette
  uint32_t imageDataSize = 0;      // bytes of the strip
  int32_t bitsCount = 0;           // count of the BitsPerSample entry
  uint32_t bitsValue = 0;          // its value, or the offset of the three values
  uint32_t xResolutionOffset = 0;
  uint32_t yResolutionOffset = 0;
  uint32_t colorMapOffset = 0;
  uint32_t stripOffset = 0;
  uint32_t iccOffset = 0;          // 0: no profile written
};

bool writeTiff(TiffWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
               const uint8_t* pixels);

}  // namespace velorin
