// Builders and probes for working images in the processing tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>

#include "imaging/image.h"

namespace velorin::test {

// A width x height working image of the given depth; fill(x, y) gives the pixel at (x, y), y
// counted from the top: blue, green, red for 24 bits, the index (in blue) for 8 bits.
inline WorkingImage makeWorkingImage(int32_t width, int32_t height, int32_t bits,
                                     const std::function<RgbQuad(int32_t, int32_t)>& fill) {
  WorkingImage image;
  if (image.allocatePixels(width, height, bits) != Status::Ok) return image;
  image.takeWorkingValuesFromHeader();
  const uint64_t stride = image.workStride();
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image.pixels.data() + static_cast<size_t>(height - 1 - y) * stride;
    for (int32_t x = 0; x < width; ++x) {
      const RgbQuad q = fill(x, y);
      if (bits == 8) {
        row[x] = q.blue;
      } else {
        row[3 * x] = q.blue, row[3 * x + 1] = q.green, row[3 * x + 2] = q.red;
      }
    }
  }
  return image;
}

inline WorkingImage randomWorkingImage(int32_t width, int32_t height, int32_t bits, uint32_t key) {
  std::mt19937 random(key);
  return makeWorkingImage(width, height, bits, [&](int32_t, int32_t) {
    return RgbQuad{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                   static_cast<uint8_t>(random()), 0};
  });
}

// The stored bytes of pixel (x, y), y from the top: blue, green, red (24 bits) or the index in
// blue (8 bits).
inline RgbQuad storedPixel(const WorkingImage& image, int32_t x, int32_t y) {
  const uint8_t* row =
      image.pixels.data() + static_cast<size_t>(image.workHeight - 1 - y) * image.workStride();
  if (image.workBitCount == 8) return {row[x], 0, 0, 0};
  return {row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
}

// True when every pixel byte equals the other image's (padding ignored).
inline bool samePixels(const WorkingImage& a, const WorkingImage& b) {
  if (a.workWidth != b.workWidth || a.workHeight != b.workHeight || a.workBitCount != b.workBitCount)
    return false;
  for (int32_t y = 0; y < a.workHeight; ++y)
    for (int32_t x = 0; x < a.workWidth; ++x)
      if (!(storedPixel(a, x, y) == storedPixel(b, x, y))) return false;
  return true;
}

inline WorkingImage copyOf(const WorkingImage& image) {
  WorkingImage copy;
  copy.header = image.header;
  std::copy(image.palette, image.palette + 256, copy.palette);
  copy.workWidth = image.workWidth;
  copy.workHeight = image.workHeight;
  copy.workBitCount = image.workBitCount;
  copy.hasTransparency = image.hasTransparency;
  copy.exifOrientation = image.exifOrientation;
  copy.pixels.allocate(image.pixels.size());
  std::copy(image.pixels.data(), image.pixels.data() + image.pixels.size(), copy.pixels.data());
  return copy;
}

}  // namespace velorin::test
