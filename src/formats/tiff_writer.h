// TIFF writer. Returns false with the reason in writer.status.
#pragma once

#include <filesystem>

#include "imaging/depth_converter.h"
#include "imaging/image.h"

namespace velorin {

struct TiffWriter {
  Status status = Status::Ok;
  DepthConverter converter;  // width, height, depths and dither set by the caller
  bool greyscale = false;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
};

bool writeTiff(TiffWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
               const uint8_t* pixels);

}  // namespace velorin
