// JPEG writer (libjpeg-turbo). Returns false with the reason in writer.status.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace velorin {

struct JpegWriter {
  Status status = Status::Ok;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitCount = 24;
  int quality = 75;
  int sampling = 0;
  bool greyscale = false;
  bool progressive = false;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  bool dither = false;
  std::vector<uint8_t> exif;  // the source's EXIF block to copy; empty: none
  std::string comment;        // empty: no comment
  bool limitSize = false;
  int32_t limitKiloBytes = 0;
};

bool writeJpeg(JpegWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
               const uint8_t* pixels);

}  // namespace velorin
