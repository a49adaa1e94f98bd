// PNG writer. Returns false with the reason in writer.status.
#pragma once

#include <filesystem>
#include <string>

#include "imaging/depth_converter.h"
#include "imaging/image.h"

namespace velorin {

struct PngWriter {
  Status status = Status::Ok;
  DepthConverter converter;  // width, height, depths and dither set by the caller
  int level = 9;
  bool interlace = false;
  bool greyscale = false;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  bool hasTransparency = false;
  RgbColour transparentColour;
  std::string comment;  // empty: no comment
};

bool writePng(PngWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
              const uint8_t* pixels);

}  // namespace velorin
