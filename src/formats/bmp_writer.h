// BMP writer: an uncompressed bottom-up bitmap at 1, 4, 8 or 24 bits per pixel.
//
// Before writeBmp the caller sets converter.width/height, calls setDepthConversion(converter,
// working bits, target bits) and sets converter.dither and the resolution. Returns false with
// the reason in writer.status; a created file is then left behind for the caller to delete.
#pragma once

#include <filesystem>

#include "imaging/depth_converter.h"
#include "imaging/image.h"

namespace velorin {

struct BmpWriter {
  Status status = Status::Ok;
  DepthConverter converter;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
};

bool writeBmp(BmpWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
              const uint8_t* pixels);

}  // namespace velorin
