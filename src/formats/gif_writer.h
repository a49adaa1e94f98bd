// GIF writer: the working image as a single-image GIF89a file of 1, 2, 4 or 8 bits per pixel,
// optionally interlaced, with one transparent palette entry when asked for.
//
// Before writeGif the caller sets converter.width/height, calls setDepthConversion(converter,
// working bits, target bits 1/2/4/8) and sets converter.dither, interlace and the transparency
// fields. Returns false with the reason in writer.status; a created file is then left behind for
// the caller to delete. Nothing is created for an image wider or taller than 65535 pixels.
#pragma once

#include <cstddef>
#include <cstdint>
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
  // The palette entry chosen for the transparent colour by the last write, -1 without one.
  int transparentIndex = -1;
};

bool writeGif(GifWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
              const uint8_t* pixels);

// Worst-case size of the code stream for pixelCount pixels: every pixel its own 12-bit code,
// plus the clear and end codes.
size_t gifLzwBound(size_t pixelCount);

// LZW-encodes pixelCount (at least 1) indices below 2^minimumCodeSize (2..8) into output, which
// must hold gifLzwBound(pixelCount) bytes. Returns the number of bytes written, or 0 when the
// dictionary cannot be allocated.
size_t encodeGifLzw(const uint8_t* pixels, size_t pixelCount, int minimumCodeSize,
                    uint8_t* output);

}  // namespace velorin
