// GIF writer. Returns false with the reason in writer.status.
#pragma once

#include <filesystem>

#include "imaging/depth_converter.h"
#include "imaging/image.h"

namespace velorin {

struct GifWriter {
  Status status = Status::Ok;
  DepthConverter converter;  // width, height, depths and dither set by the caller
  bool interlace = false;
  bool hasTransparency = false;
  RgbColour transparentColour;
};

bool writeGif(GifWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
              const uint8_t* pixels);

}  // namespace velorin
