// PNG writer: truecolour (8 bits per sample), 8-bit greyscale, or a palette image of 1, 2, 4 or
// 8 bits per pixel, optionally Adam7-interlaced, with iCCP (colour kinds only), pHYs, a transparent colour (tRNS and
// bKGD) and a tEXt comment when asked for.
//
// Before writePng the caller sets converter.width/height, calls setDepthConversion(converter,
// working bits, target bits) and sets converter.dither and the options below; the target bit
// count picks the kind (24 truecolour; 8 with `greyscale` grey; 1, 2, 4, 8 palette). The palette
// and pixels are the working image's (bottom-up rows, 8 or 24 bits). Returns false with the
// reason in writer.status; a created file is then left as far as it was written, for the caller
// to delete. No file is created for a width the format's row arithmetic cannot hold.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "imaging/depth_converter.h"
#include "imaging/image.h"

namespace velorin {

struct PngWriter {
  Status status = Status::Ok;
  DepthConverter converter;  // width, height, depths and dither set by the caller
  int level = 9;             // zlib level 0..9
  bool interlace = false;
  bool greyscale = false;
  int32_t xPelsPerMeter = 0;  // pHYs only when both are non-zero
  int32_t yPelsPerMeter = 0;
  bool hasTransparency = false;
  RgbColour transparentColour;
  std::string comment;  // locale's character set; empty: no comment
  std::vector<uint8_t> iccProfile;  // an RGB profile, written as iCCP for colour kinds; empty: none

  // What the last write put into IHDR and PLTE.
  int32_t bitDepth = 0;
  int32_t colourType = 0;
  int32_t paletteEntries = 0;
};

// Widths above this are refused before the file is created.
inline constexpr int32_t kPngMaxWidth = 89478485;

bool writePng(PngWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
              const uint8_t* pixels);

}  // namespace velorin
