// JPEG reader (libjpeg-turbo, libjpeg 6.2 interface).
//
// Grey files become 8-bit records with the identity grey palette; YCbCr and RGB files 24-bit
// blue-green-red; CMYK and YCCK files (Adobe-inverted samples) 24-bit through the product table.
// A file cut short decodes to its full size: the missing data reads as an end of image. Such a
// file, or one with corrupt data, still reads, with the library's first warning in
// reader.damage. With a target size set, the decoder works at 1/2, 1/4 or 1/8 as long as the
// result keeps the target.
// Returns false with the reason in reader.status.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "formats/input_file.h"

namespace velorin {

struct JpegReader : ReaderContext {
  // Pre-scaling target set before each load: 0 x 0 decodes at full size; 1 leaves a direction
  // free.
  int32_t targetWidth = 0;
  int32_t targetHeight = 0;
  // Found by the last successful read.
  bool hasExif = false;
  int32_t orientation = 1;  // 1, 3, 6 or 8: the last EXIF segment before the scan decides
  std::string message;      // the library's last fatal message
  std::vector<uint8_t> iccProfile;  // of the last successful read; empty: none or unusable
};

bool readJpegFile(JpegReader& reader, const std::filesystem::path& path, ImageRecord& record);
bool readJpegMemory(JpegReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record);

// The scale denominator (1, 2, 4 or 8) that keeps an image of the given size at least as large
// as the target; 0 in a target direction leaves it free.
int jpegScaleDenominator(uint32_t width, uint32_t height, uint32_t targetWidth,
                         uint32_t targetHeight);

// Whether entropyBytes of data after the header can plausibly describe a picture of this many
// pixels; see the bound in jpeg_reader.cpp.
bool entropyDataPlausible(uint64_t pixels, uint64_t entropyBytes);

}  // namespace velorin
